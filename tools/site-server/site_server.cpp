// site-server --root DIR [--port N] [--port-file FILE] [--fault PATH=KIND]... [--faults FILE]
// Serves DIR on 127.0.0.1 for tests and the demo, streaming files in pieces so that size does
// not matter, with byte ranges, and misbehaving on request (see faults.h and the README).
#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "tools/site-server/faults.h"

namespace {

using site_server::Fault;

constexpr size_t piece_bytes = 256 * 1024;
constexpr auto longest_stall = std::chrono::minutes(10);

struct Options {
  std::string root;
  int port = 0;
  std::string port_file;
  std::string fault_file;
  std::map<std::string, Fault> faults;
};

[[noreturn]] void usage(const std::string& problem) {
  std::cerr << "site-server: " << problem << "\n"
            << "usage: site-server --root DIR [--port N] [--port-file FILE] "
               "[--fault PATH=KIND]... [--faults FILE]\n";
  std::exit(2);
}

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) usage("missing value after " + name);
    const std::string value = argv[++i];
    if (name == "--root") {
      options.root = value;
    } else if (name == "--port") {
      options.port = std::atoi(value.c_str());
    } else if (name == "--port-file") {
      options.port_file = value;
    } else if (name == "--faults") {
      options.fault_file = value;
    } else if (name == "--fault") {
      if (!site_server::add_fault_rule(value, options.faults)) usage("bad fault rule " + value);
    } else {
      usage("unknown option " + name);
    }
  }
  if (options.root.empty()) usage("--root is required");
  return options;
}

// The rules in force for this request: the command line's, overridden by the option file as
// it reads now, so a test can change behaviour while the server runs.
Fault fault_for(const Options& options, const std::string& path) {
  std::map<std::string, Fault> faults = options.faults;
  if (!options.fault_file.empty()) {
    std::ifstream file(options.fault_file);
    std::stringstream text;
    text << file.rdbuf();
    std::vector<std::string> problems;
    for (auto& [rule_path, fault] : site_server::parse_fault_file(text.str(), problems)) {
      faults[rule_path] = fault;
    }
    for (const auto& problem : problems)
      std::cerr << "site-server: ignored rule " << problem << "\n";
  }
  auto found = faults.find(path);
  return found == faults.end() ? Fault{} : found->second;
}

uint16_t port_of(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  }
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  }
  return 0;
}

// The library hides the connection's socket from handlers; the faults that must notice the
// client leaving or must reset the connection find it by its two port numbers.
int connection_socket(const httplib::Request& request) {
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) return -1;
  int result = -1;
  while (dirent* entry = readdir(fds)) {
    const int fd = std::atoi(entry->d_name);
    if (fd <= 2) continue;
    sockaddr_storage local{}, peer{};
    socklen_t local_size = sizeof local, peer_size = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_size) != 0) continue;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_size) != 0) continue;
    if (port_of(local) == request.local_port && port_of(peer) == request.remote_port) {
      result = fd;
      break;
    }
  }
  closedir(fds);
  return result;
}

// True once the client has closed or reset its end; waits at most `wait_ms` for that.
bool client_gone(int fd, int wait_ms) {
  if (fd < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
    return false;
  }
  pollfd entry{fd, POLLIN | POLLRDHUP, 0};
  if (poll(&entry, 1, wait_ms) <= 0) return false;
  if (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) return true;
  char byte;
  return recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

// Aborts the connection so that the client sees a reset, not an orderly end.
void reset_connection(int fd) {
  if (fd < 0) return;
  linger option{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  sockaddr unspecified{};
  unspecified.sa_family = AF_UNSPEC;
  connect(fd, &unspecified, sizeof unspecified);
}

class FileReader {
 public:
  explicit FileReader(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {}
  ~FileReader() {
    if (file_ != nullptr) std::fclose(file_);
  }
  bool ok() const { return file_ != nullptr; }
  // Writes [offset, offset + length) of the file to the sink; false when that failed.
  bool send(size_t offset, size_t length, httplib::DataSink& sink) {
    std::vector<char> buffer(std::min(length, piece_bytes));
    if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    const size_t count = std::fread(buffer.data(), 1, buffer.size(), file_);
    if (count == 0) return false;
    return sink.write(buffer.data(), count);
  }

 private:
  std::FILE* file_;
};

// The file under the root for a request path; empty when there is none or it escapes the root.
std::string file_for(const std::string& root, const std::string& request_path) {
  if (request_path.empty() || request_path[0] != '/') return "";
  if (request_path.find("..") != std::string::npos) return "";
  const std::string path = root + request_path;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return "";
  return path;
}

void serve(const Options& options, const httplib::Request& request, httplib::Response& response) {
  // The library would apply the request's ranges to whatever we answer (and gets a range past
  // the end wrong), so ranges are handled here and taken away from it.
  auto& ranges = const_cast<httplib::Ranges&>(request.ranges);
  const httplib::Ranges requested = ranges;
  ranges.clear();

  const Fault fault = fault_for(options, request.path);
  if (fault.kind == Fault::Kind::status) {
    // An error page as web servers send them, so a client that keeps the body of a failed
    // response would be caught holding HTML.
    const std::string code = std::to_string(fault.status);
    response.status = fault.status;
    response.set_content("<!DOCTYPE html>\n<html><head><title>" + code +
                             "</title></head>\n<body><h1>" + code +
                             "</h1><p>The server could not serve this file.</p></body></html>\n",
                         "text/html");
    return;
  }
  if (fault.kind == Fault::Kind::redirect) {
    response.set_redirect(fault.target, 302);
    return;
  }
  if (fault.kind == Fault::Kind::endless) {
    response.status = 200;
    response.set_chunked_content_provider("application/octet-stream",
                                          [&request](size_t, httplib::DataSink& sink) {
                                            static const std::string zeros(64 * 1024, '\0');
                                            return sink.write(zeros.data(), zeros.size()) &&
                                                   !client_gone(connection_socket(request), 0);
                                          });
    return;
  }

  const std::string path = file_for(options.root, request.path);
  if (path.empty()) {
    response.status = 404;
    response.set_content("not found\n", "text/plain");
    return;
  }
  const size_t size = std::filesystem::file_size(path);
  auto reader = std::make_shared<FileReader>(path);
  if (!reader->ok()) {
    response.status = 500;
    return;
  }
  const char* type = "application/octet-stream";

  size_t first = 0;
  size_t length = size;
  response.status = 200;
  response.set_header("Accept-Ranges", fault.kind == Fault::Kind::no_ranges ? "none" : "bytes");
  if (requested.size() == 1 && fault.kind != Fault::Kind::no_ranges) {
    auto [from, to] = requested.front();
    if (from < 0) {  // the last `to` bytes
      if (to <= 0) {
        response.status = 416;
        response.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
      }
      first = size - std::min(size, static_cast<size_t>(to));
      length = size - first;
    } else {
      if (static_cast<size_t>(from) >= size) {
        response.status = 416;
        response.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
      }
      first = static_cast<size_t>(from);
      const size_t last = to < 0 ? size - 1 : std::min(size - 1, static_cast<size_t>(to));
      length = last - first + 1;
    }
    response.status = 206;
    response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                             std::to_string(first + length - 1) + "/" +
                                             std::to_string(size));
  }

  switch (fault.kind) {
    case Fault::Kind::chunked:
    case Fault::Kind::chunked_truncate: {
      const bool cut_short = fault.kind == Fault::Kind::chunked_truncate;
      const size_t end = cut_short ? length / 2 : length;
      response.set_chunked_content_provider(
          type, [reader, first, end, cut_short](size_t offset, httplib::DataSink& sink) {
            if (offset < end) return reader->send(first + offset, end - offset, sink);
            if (cut_short) {
              std::this_thread::sleep_for(std::chrono::milliseconds(50));
              return false;
            }
            sink.done();
            return true;
          });
      return;
    }
    case Fault::Kind::truncate:
    case Fault::Kind::reset: {
      const size_t cut = length / 2;
      const bool reset = fault.kind == Fault::Kind::reset;
      response.set_content_provider(
          length, type,
          [reader, first, cut, reset, &request](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset < cut) return reader->send(first + offset, cut - offset, sink);
            // Give the client a moment to take what was sent before the end comes.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (reset) reset_connection(connection_socket(request));
            return false;
          });
      return;
    }
    case Fault::Kind::stall:
      response.set_content_provider(length, type, [&request](size_t, size_t, httplib::DataSink&) {
        const int fd = connection_socket(request);
        const auto give_up = std::chrono::steady_clock::now() + longest_stall;
        while (std::chrono::steady_clock::now() < give_up) {
          if (client_gone(fd, 50)) break;
        }
        return false;
      });
      return;
    case Fault::Kind::drip: {
      const size_t bytes = fault.drip_bytes;
      const int ms = fault.drip_ms;
      response.set_content_provider(length, type,
                                    [reader, first, bytes, ms, &request](size_t offset, size_t left,
                                                                         httplib::DataSink& sink) {
                                      if (offset > 0 && client_gone(connection_socket(request), ms))
                                        return false;
                                      return reader->send(first + offset, std::min(left, bytes),
                                                          sink);
                                    });
      return;
    }
    default:
      response.set_content_provider(
          length, type, [reader, first](size_t offset, size_t left, httplib::DataSink& sink) {
            return reader->send(first + offset, left, sink);
          });
      return;
  }
}

bool write_port_file(const std::string& path, int port) {
  // Written beside and renamed, so a reader never sees half a number.
  const std::string temporary = path + ".tmp";
  {
    std::ofstream file(temporary);
    file << port << "\n";
    if (!file) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse_options(argc, argv);
  httplib::Server server;
  // Stalled and dripping answers hold a thread each; keep plenty so they never starve others.
  server.new_task_queue = [] { return new httplib::ThreadPool(64); };
  server.set_keep_alive_max_count(100);
  server.set_pre_routing_handler(
      [&options](const httplib::Request& request, httplib::Response& response) {
        if (request.method != "GET" && request.method != "HEAD") {
          response.status = 405;
          return httplib::Server::HandlerResponse::Handled;
        }
        serve(options, request, response);
        return httplib::Server::HandlerResponse::Handled;
      });

  int port = options.port;
  if (port == 0) {
    port = server.bind_to_any_port("127.0.0.1");
    if (port < 0) {
      std::cerr << "site-server: cannot bind\n";
      return 1;
    }
  } else if (!server.bind_to_port("127.0.0.1", port)) {
    std::cerr << "site-server: cannot bind port " << port << "\n";
    return 1;
  }
  if (!options.port_file.empty() && !write_port_file(options.port_file, port)) {
    std::cerr << "site-server: cannot write " << options.port_file << "\n";
    return 1;
  }
  std::cerr << "site-server: serving " << options.root << " on http://127.0.0.1:" << port << "/\n";
  return server.listen_after_bind() ? 0 : 1;
}
