package quelmarin.trevalon.launcher;

import java.io.PrintWriter;
import java.io.StringWriter;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;

/**
 * The application's side of the native launcher: chooses the main method the launcher runs and
 * words the report of an uncaught exception.
 */
public final class Launcher {
  /** The method the native launcher invokes: public, static, one String[] parameter. */
  public static Method mainMethod;

  /** The class on which the native launcher invokes {@link #mainMethod}. */
  public static Class<?> clazz;

  private Launcher() {}

  /** Loads {@code mainClassName} and selects its main method. */
  public static void prepare(String mainClassName) throws ReflectiveOperationException {
    ClassLoader loader = Thread.currentThread().getContextClassLoader();
    if (loader == null) {
      loader = ClassLoader.getSystemClassLoader();
    }
    Class<?> loaded = Class.forName(mainClassName, true, loader);
    Method main = loaded.getMethod("main", String[].class);
    if (!Modifier.isStatic(main.getModifiers()) || main.getReturnType() != void.class) {
      throw new NoSuchMethodException(
          "The main method of " + mainClassName + " must be declared public static void");
    }
    mainMethod = main;
    clazz = loaded;
  }

  /** The text shown to the user when the main method ends with {@code failure}. */
  public static String fromException(Throwable failure) {
    StringWriter trace = new StringWriter();
    failure.printStackTrace(new PrintWriter(trace));
    return "The application stopped because of an error it did not handle:\n\n" + trace;
  }
}
