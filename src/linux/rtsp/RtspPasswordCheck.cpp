#include "linux/rtsp/RtspPasswordCheck.h"

#include <glib.h>
#include <pthread.h>

#include <asio.hpp>
#include <cctype>
#include <chrono>
#include <map>
#include <utility>

namespace brontide::linux::rtsp {

namespace {

constexpr const char* kUser = "Brontide";

std::string md5(const std::string& text) {
  gchar* hex = g_compute_checksum_for_string(G_CHECKSUM_MD5, text.data(), static_cast<gssize>(text.size()));
  std::string result(hex);
  g_free(hex);
  return result;
}

std::string lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The value of header `name` in a response head, or empty.
std::string header(const std::string& head, const std::string& name) {
  const auto wanted = lower(name) + ":";
  std::size_t start = 0;
  while (start < head.size()) {
    auto end = head.find("\r\n", start);
    if (end == std::string::npos) end = head.size();
    const auto line = head.substr(start, end - start);
    if (lower(line.substr(0, wanted.size())) == wanted) {
      auto value = line.substr(wanted.size());
      while (value.starts_with(' ')) value.erase(0, 1);
      return value;
    }
    start = end + 2;
  }
  return {};
}

// The name="value" (or name=value) pairs after the scheme.
std::map<std::string, std::string> parameters(const std::string& list) {
  std::map<std::string, std::string> found;
  std::size_t at = 0;
  while (at < list.size()) {
    while (at < list.size() && (list[at] == ' ' || list[at] == ',')) ++at;
    const auto equals = list.find('=', at);
    if (equals == std::string::npos) break;
    const auto name = lower(list.substr(at, equals - at));
    std::string value;
    at = equals + 1;
    if (at < list.size() && list[at] == '"') {
      const auto close = list.find('"', at + 1);
      value = list.substr(at + 1, close == std::string::npos ? std::string::npos : close - at - 1);
      at = close == std::string::npos ? list.size() : close + 1;
    } else {
      const auto comma = list.find(',', at);
      value = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
      at = comma == std::string::npos ? list.size() : comma;
    }
    found[name] = value;
  }
  return found;
}

}  // namespace

std::string RtspPasswordCheck::authorization(const std::string& challenge, const std::string& method,
                                             const std::string& uri, const std::string& password) {
  if (lower(challenge.substr(0, 7)) != "digest ") return {};
  const auto p = parameters(challenge.substr(7));
  const auto realm = p.contains("realm") ? p.at("realm") : std::string();
  const auto nonce = p.contains("nonce") ? p.at("nonce") : std::string();
  const auto response = md5(md5(std::string(kUser) + ":" + realm + ":" + password) + ":" + nonce + ":" +
                            md5(method + ":" + uri));
  return "Digest username=\"" + std::string(kUser) + "\", realm=\"" + realm + "\", nonce=\"" + nonce +
         "\", uri=\"" + uri + "\", response=\"" + response + "\"";
}

struct RtspPasswordCheck::Engine {
  asio::io_context io{1};
  asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(io);
};

namespace {

using Done = std::function<void(PasswordVerdict, std::string)>;

// One check on the io thread: connect, OPTIONS, and OPTIONS again with the answer to the challenge.
struct Exchange : std::enable_shared_from_this<Exchange> {
  Exchange(asio::io_context& io, MainQueue& queue, AirPlayReceiver receiver, Done done)
      : socket(io), deadline(io), queue(queue), receiver(std::move(receiver)), done(std::move(done)) {}

  void start() {
    auto self = shared_from_this();
    deadline.expires_after(std::chrono::seconds(RtspPasswordCheck::kLimitSeconds));
    deadline.async_wait([self](const asio::error_code& error) {
      if (!error)
        self->finish(PasswordVerdict::unreachable,
                     "no RTSP answer within " + std::to_string(RtspPasswordCheck::kLimitSeconds) + " s");
    });
    asio::error_code invalid;
    const auto address = asio::ip::make_address_v4(receiver.address, invalid);
    if (invalid) return finish(PasswordVerdict::unreachable, "\"" + receiver.address + "\" is not an IPv4 address");
    socket.async_connect({address, receiver.port}, [self](const asio::error_code& error) {
      if (error) return self->finish(PasswordVerdict::unreachable, "connect: " + error.message());
      self->send({});
    });
  }

  void send(const std::string& authorization) {
    request = "OPTIONS * RTSP/1.0\r\nCSeq: " + std::to_string(++sequence) + "\r\nUser-Agent: Brontide\r\n";
    if (!authorization.empty()) request += "Authorization: " + authorization + "\r\n";
    request += "\r\n";
    auto self = shared_from_this();
    asio::async_write(socket, asio::buffer(request), [self](const asio::error_code& written, std::size_t) {
      if (written) return self->finish(PasswordVerdict::unreachable, "RTSP write: " + written.message());
      asio::async_read_until(self->socket, self->input, "\r\n\r\n",
                             [self](const asio::error_code& error, std::size_t size) {
                               if (error) return self->finish(PasswordVerdict::unreachable, "RTSP read: " + error.message());
                               const std::string head(asio::buffers_begin(self->input.data()),
                                                      asio::buffers_begin(self->input.data()) + std::ptrdiff_t(size));
                               self->input.consume(size);
                               self->answer(head);
                             });
    });
  }

  void answer(const std::string& head) {
    const auto statusLine = head.substr(0, head.find("\r\n"));
    const auto space = statusLine.find(' ');
    const auto status = space == std::string::npos ? std::string() : statusLine.substr(space + 1, 3);
    if (status == "200") return finish(PasswordVerdict::accepted, {});
    if (status == "401" && sequence > 1) return finish(PasswordVerdict::rejected, {});
    if (status == "401") {
      const auto challenge = header(head, "WWW-Authenticate");
      const auto reply = RtspPasswordCheck::authorization(challenge, "OPTIONS", "*", receiver.password.value_or(""));
      if (reply.empty()) return finish(PasswordVerdict::unreachable, "asks for \"" + challenge + "\", not Digest");
      return send(reply);
    }
    finish(PasswordVerdict::unreachable, "RTSP answer \"" + statusLine + "\"");
  }

  void finish(PasswordVerdict verdict, std::string reason) {
    if (finished) return;
    finished = true;
    deadline.cancel();
    asio::error_code ignored;
    socket.close(ignored);
    queue.post([done = std::move(done), verdict, reason = std::move(reason)] { done(verdict, reason); });
  }

  asio::ip::tcp::socket socket;
  asio::steady_timer deadline;
  asio::streambuf input{16 * 1024};  // a head that never ends is cut off here, not in memory
  MainQueue& queue;
  AirPlayReceiver receiver;
  Done done;
  std::string request;
  int sequence = 0;
  bool finished = false;
};

}  // namespace

RtspPasswordCheck::RtspPasswordCheck(MainQueue& mainQueue) : mainQueue_(mainQueue), engine_(std::make_unique<Engine>()) {
  thread_ = std::thread([engine = engine_.get()] {
    pthread_setname_np(pthread_self(), "brontide.rtsp");
    engine->io.run();
  });
}

RtspPasswordCheck::~RtspPasswordCheck() {
  engine_->io.stop();
  thread_.join();
}

void RtspPasswordCheck::check(const AirPlayReceiver& receiver, Done done) {
  auto exchange = std::make_shared<Exchange>(engine_->io, mainQueue_, receiver, std::move(done));
  asio::post(engine_->io, [exchange] { exchange->start(); });
}

}  // namespace brontide::linux::rtsp
