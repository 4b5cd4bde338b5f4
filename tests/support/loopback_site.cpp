#include "tests/support/loopback_site.h"

#include <httplib.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace pellora::testing {
namespace {

std::optional<std::string> read_whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

LoopbackSite::LoopbackSite(std::string folder)
    : folder_(std::move(folder)), server_(std::make_unique<httplib::Server>()) {
  // Everything is answered here rather than through routes (which match with std::regex), and
  // ranges are applied here too: the library would apply them again, and wrongly past the end.
  server_->set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        auto& ranges = const_cast<httplib::Request&>(request).ranges;
        const auto requested = ranges;
        ranges.clear();
        const std::string& path = request.path;
        if (path.find("..") != std::string::npos || path.empty() || path[0] != '/') {
          response.status = 400;
          return httplib::Server::HandlerResponse::Handled;
        }
        auto body = read_whole_file(folder_ + path);
        if (!body) {
          response.status = 404;
          response.set_content("not found", "text/plain");
          return httplib::Server::HandlerResponse::Handled;
        }
        size_t begin = 0;
        size_t length = body->size();
        response.status = 200;
        if (!requested.empty()) ++range_requests_;
        if (requested.size() == 1 && !refuse_ranges_) {
          const auto [first, last] = requested.front();
          if (first < 0) {  // a suffix: the last `last` bytes
            begin = body->size() - std::min<size_t>(static_cast<size_t>(last), body->size());
          } else {
            begin = static_cast<size_t>(first);
          }
          size_t end = last < 0 || first < 0 ? body->size() - 1 : static_cast<size_t>(last);
          if (end >= body->size()) end = body->size() - 1;
          if (begin >= body->size() || begin > end) {
            response.status = 416;
            response.set_header("Content-Range", "bytes */" + std::to_string(body->size()));
            return httplib::Server::HandlerResponse::Handled;
          }
          length = end - begin + 1;
          response.status = 206;
          response.set_header("Content-Range", "bytes " + std::to_string(begin) + "-" +
                                                   std::to_string(end) + "/" +
                                                   std::to_string(body->size()));
        }
        response.set_header("Accept-Ranges", refuse_ranges_ ? "none" : "bytes");
        if (!slow_) {
          response.set_content(body->substr(begin, length), "application/octet-stream");
          return httplib::Server::HandlerResponse::Handled;
        }
        auto slice = std::make_shared<std::string>(body->substr(begin, length));
        response.set_content_provider(
            slice->size(), "application/octet-stream",
            [this, slice](size_t offset, size_t /*length*/, httplib::DataSink& sink) {
              if (stopping_) return false;
              const size_t piece = std::min<size_t>(16 * 1024, slice->size() - offset);
              if (!sink.write(slice->data() + offset, piece)) return false;
              std::this_thread::sleep_for(std::chrono::milliseconds(50));
              return true;
            });
        return httplib::Server::HandlerResponse::Handled;
      });
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
}

LoopbackSite::~LoopbackSite() {
  stopping_ = true;
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string LoopbackSite::base_url() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

}  // namespace pellora::testing
