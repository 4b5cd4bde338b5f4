/* The machine-dependent half of jni.h for Windows, written for this project: the JDK for Linux
 * that the build uses ships only its Linux half, where jlong is `long` (32 bits on Windows).
 * The backend puts this folder first on the include path. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
/* Only 32-bit x86 has a calling convention to name; x64 and ARM64 have one convention. */
#if defined(_M_IX86) || defined(__i386__)
#define JNICALL __stdcall
#else
#define JNICALL
#endif

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif /* _JAVASOFT_JNI_MD_H_ */
