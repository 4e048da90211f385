#include "stream_server/StreamServer.h"

#include <pthread.h>

#include <asio.hpp>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brontide {

namespace {

using asio::ip::tcp;

constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(100);
// The connection cap's notices: one when it is reached, one when it clears, at most one per this long.
constexpr auto kCapNoticeInterval = std::chrono::seconds(10);
// Buffers handed to one gathered write when a client has fallen behind.
constexpr std::size_t kMaxGather = 64;

// One broadcast buffer, shared read-only by every client queue that still has to send it.
struct Chunk {
  std::shared_ptr<const std::uint8_t[]> bytes;
  std::size_t size = 0;
};

Chunk headerChunk() {
  // Aliasing an empty owner: the header is static and needs no reference count.
  return {std::shared_ptr<const std::uint8_t[]>(
              std::shared_ptr<const std::uint8_t[]>{},
              reinterpret_cast<const std::uint8_t*>(StreamServer::kResponseHeader.data())),
          StreamServer::kResponseHeader.size()};
}

// Errors accept(2) reports for a connection that died in the backlog or a passing network condition.
bool isTransient(const asio::error_code& ec) {
  if (ec.category() != asio::system_category()) return false;
  switch (ec.value()) {
    case ECONNABORTED: case EINTR: case EAGAIN: case EPROTO: case EPERM: case ENETDOWN: case ENOPROTOOPT:
    case EHOSTDOWN: case ENONET: case EHOSTUNREACH: case EOPNOTSUPP: case ENETUNREACH:
      return true;
    default:
      return false;
  }
}

// Out of descriptors or memory: retrying at once would spin, so the listener waits a little.
bool isShortage(const asio::error_code& ec) {
  if (ec.category() != asio::system_category()) return false;
  return ec.value() == EMFILE || ec.value() == ENFILE || ec.value() == ENOBUFS || ec.value() == ENOMEM;
}

struct Client {
  Client(tcp::socket s, std::uint64_t number)
      : socket(std::move(s)), order(number), requestTimer(socket.get_executor()) {}

  tcp::socket socket;
  std::uint64_t order;                      // accept order: the oldest silent one makes room first
  asio::steady_timer requestTimer;          // closes it if no request comes
  std::unique_ptr<std::uint8_t[]> request;  // only while the first read is pending
  bool registered = false;                  // header queued; receives broadcasts
  std::deque<Chunk> queue;                  // waiting for the next write
  std::vector<Chunk> writing;               // held alive by the write in flight
  std::vector<asio::const_buffer> gather;   // kept to reuse its capacity
  std::size_t writingBytes = 0;
  std::size_t queuedBytes = 0;              // queue + writing
};

}  // namespace

// Owns the io_context; shared with the io thread so a detached thread never outlives it.
struct StreamServer::Engine {
  asio::io_context io{1};
  asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(io);
};

// Everything the handlers and the clean-up of stop() need. Apart from the acceptor, only the io thread
// touches it; the engine's io_context outlives it because the io thread runs until no handler holds it.
struct StreamServer::State : std::enable_shared_from_this<State> {
  State(asio::io_context& context, MainQueue& queue, std::function<void(Error)> errorCallback, Log* logger,
        Limits bounds)
      : acceptor(context), retryTimer(context), mainQueue(queue), onError(std::move(errorCallback)), log(logger),
        limits(bounds) {}

  void acceptNext() {
    std::lock_guard lock(acceptorMutex);
    if (!acceptor.is_open()) return;
    acceptor.async_accept([weak = weak_from_this()](const asio::error_code& ec, tcp::socket socket) {
      if (auto self = weak.lock()) self->accept(ec, std::move(socket));
    });
  }

  void accept(const asio::error_code& ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted) return;
    if (ec && isTransient(ec)) {
      acceptNext();
      return;
    }
    if (ec && isShortage(ec)) {
      notice("stream server: accept failed (" + ec.message() + "), retrying");
      retryTimer.expires_after(kAcceptRetryDelay);
      retryTimer.async_wait([weak = weak_from_this()](const asio::error_code& waitError) {
        auto self = weak.lock();
        if (self && !waitError) self->acceptNext();
      });
      return;
    }
    if (ec) {
      // The failed listener is left as it is; the owner decides what follows.
      notice("stream server: listener failed: " + ec.message());
      mainQueue.post([callback = onError, error = Error{ErrorCode::ServerFailed, ec.message()}] { callback(error); });
      return;
    }
    if (closed) {
      // Accepted just before stop() closed the listener.
      asio::error_code ignored;
      socket.close(ignored);
      return;
    }
    if (clients.size() >= limits.connections && !dropOldestSilent()) {
      asio::error_code ignored;
      socket.close(ignored);
    } else {
      auto client = std::make_shared<Client>(std::move(socket), ++accepted);
      clients.emplace(client.get(), client);
      readRequest(client);
    }
    noteCap();
    acceptNext();
  }

  // Closes the longest-held connection that has not sent its request; false when there is none.
  bool dropOldestSilent() {
    Client* oldest = nullptr;
    for (const auto& [key, client] : clients) {
      if (!client->registered && (!oldest || client->order < oldest->order)) oldest = key;
    }
    if (!oldest) return false;
    drop(*oldest, false);  // the new one takes its place: the cap is not cleared
    return true;
  }

  void noteCap() {
    const bool full = clients.size() >= limits.connections;
    if (full == capNoticed) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastCapNotice < kCapNoticeInterval) return;
    capNoticed = full;
    lastCapNotice = now;
    notice(full ? "stream server: " + std::to_string(limits.connections) +
                      " connections open; each new one replaces the oldest that has not asked for the stream"
                : "stream server: fewer than " + std::to_string(limits.connections) + " connections again");
  }

  void readRequest(const std::shared_ptr<Client>& client) {
    client->requestTimer.expires_after(limits.requestWait);
    client->requestTimer.async_wait(
        [weak = weak_from_this(), silent = std::weak_ptr(client)](const asio::error_code& ec) {
          auto self = weak.lock();
          auto held = silent.lock();
          if (!ec && self && held && !held->registered) self->drop(*held);
        });
    client->request = std::make_unique_for_overwrite<std::uint8_t[]>(kRequestReadLimit);
    client->socket.async_read_some(
        asio::buffer(client->request.get(), kRequestReadLimit),
        [weak = weak_from_this(), client](const asio::error_code& ec, std::size_t) {
          client->request.reset();
          auto self = weak.lock();
          if (!self) return;  // the last reference to the client goes with this handler, closing it
          // A client that half-closes without a request is still served.
          if ((ec && ec != asio::error::eof) || self->closed) {
            self->drop(*client);
            return;
          }
          client->registered = true;
          client->requestTimer.cancel();
          self->enqueue(client, headerChunk());
        });
  }

  // Queues one chunk for a registered client; false when that would exceed the unsent bound.
  bool enqueue(const std::shared_ptr<Client>& client, const Chunk& chunk) {
    if (client->queuedBytes + chunk.size > kMaxQueuedBytes) return false;
    client->queue.push_back(chunk);
    client->queuedBytes += chunk.size;
    if (client->writing.empty()) writeNext(client);
    return true;
  }

  void writeNext(const std::shared_ptr<Client>& client) {
    Client& c = *client;
    c.gather.clear();
    while (!c.queue.empty() && c.writing.size() < kMaxGather) {
      c.writing.push_back(std::move(c.queue.front()));
      c.queue.pop_front();
      c.gather.emplace_back(c.writing.back().bytes.get(), c.writing.back().size);
      c.writingBytes += c.writing.back().size;
    }
    // The span points into the client, which the handler keeps alive until the write completes.
    asio::async_write(c.socket, std::span<const asio::const_buffer>(c.gather),
                      [weak = weak_from_this(), client](const asio::error_code& ec, std::size_t) {
                        client->queuedBytes -= client->writingBytes;
                        client->writingBytes = 0;
                        client->writing.clear();
                        auto self = weak.lock();
                        if (!self) return;
                        if (ec) {
                          self->drop(*client);
                          return;
                        }
                        if (!client->queue.empty()) self->writeNext(client);
                      });
  }

  void send(const Chunk& chunk) {
    if (closed) return;
    bool dropped = false;
    for (auto it = clients.begin(); it != clients.end();) {
      const auto& client = it->second;
      if (client->registered && !enqueue(client, chunk)) {
        notice("stream server: client dropped, more than " + std::to_string(kMaxQueuedBytes) + " bytes unsent");
        asio::error_code ignored;
        client->socket.close(ignored);
        it = clients.erase(it);
        dropped = true;
        continue;
      }
      ++it;
    }
    if (dropped) noteCap();
  }

  // The caller holds a reference to the client, so its address cannot name another client meanwhile.
  void drop(Client& client, bool noting = true) {
    asio::error_code ignored;
    client.socket.close(ignored);
    client.requestTimer.cancel();
    if (clients.erase(&client) > 0 && noting) noteCap();
  }

  void closeAll() {
    closed = true;
    retryTimer.cancel();
    for (auto& [key, client] : clients) {
      asio::error_code ignored;
      client->socket.close(ignored);
      client->requestTimer.cancel();
    }
    clients.clear();
    std::lock_guard lock(acceptorMutex);
    asio::error_code ignored;
    acceptor.close(ignored);
  }

  void notice(const std::string& line) {
    if (log) log->notice(line);
  }

  std::mutex acceptorMutex;  // stop() closes the listener on the main thread while the io thread re-arms it
  tcp::acceptor acceptor;
  asio::steady_timer retryTimer;
  std::unordered_map<Client*, std::shared_ptr<Client>> clients;  // accepted, with or without the header yet
  bool closed = false;
  MainQueue& mainQueue;
  std::function<void(Error)> onError;
  Log* log;
  Limits limits;
  std::uint64_t accepted = 0;
  bool capNoticed = false;
  std::chrono::steady_clock::time_point lastCapNotice{};
};

std::expected<std::shared_ptr<StreamServer>, Error> StreamServer::create(
    MainQueue& mainQueue, std::function<void(std::uint16_t)> onReady, std::function<void(Error)> onError,
    Log* log, Limits limits) {
  try {
    auto engine = std::make_shared<Engine>();
    auto state = std::make_shared<State>(engine->io, mainQueue, std::move(onError), log, limits);

    const tcp::endpoint loopback(asio::ip::address_v4::loopback(), 0);
    asio::error_code ec;
    state->acceptor.open(loopback.protocol(), ec);
    if (!ec) state->acceptor.bind(loopback, ec);
    if (!ec) state->acceptor.listen(asio::socket_base::max_listen_connections, ec);
    std::uint16_t port = 0;
    if (!ec) port = state->acceptor.local_endpoint(ec).port();
    if (ec) return std::unexpected(Error{ErrorCode::ServerFailed, ec.message()});

    state->acceptNext();
    asio::post(engine->io, [weak = std::weak_ptr(state), &mainQueue, onReady = std::move(onReady), port] {
      if (weak.lock()) mainQueue.post([onReady, port] { onReady(port); });
    });
    std::thread thread([engine, log] {
      pthread_setname_np(pthread_self(), "brontide.server");
      for (;;) {
        try {
          engine->io.run();
          return;
        } catch (const std::exception& e) {
          // A handler that threw (out of memory) loses its own step only.
          if (log) log->notice(std::string("stream server: ") + e.what());
        }
      }
    });
    return std::shared_ptr<StreamServer>(new StreamServer(std::move(engine), std::move(state), std::move(thread)));
  } catch (const std::system_error& e) {
    return std::unexpected(Error{ErrorCode::ServerFailed, e.code().message()});
  } catch (const std::exception& e) {
    return std::unexpected(Error{ErrorCode::ServerFailed, e.what()});
  }
}

StreamServer::StreamServer(std::shared_ptr<Engine> engine, std::shared_ptr<State> state, std::thread thread)
    : engine_(std::move(engine)), state_(std::move(state)), thread_(std::move(thread)) {}

StreamServer::~StreamServer() {
  stop();
  state_.reset();
  engine_->work.reset();
  if (!thread_.joinable()) return;
  // The io thread ends once the clean-up has closed every socket and no handler is left.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // its own reference keeps the engine alive until run() returns
  } else {
    thread_.join();
  }
}

void StreamServer::broadcast(std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || stopped_.load(std::memory_order_relaxed)) return;
  try {
    auto copy = std::make_shared_for_overwrite<std::uint8_t[]>(bytes.size());
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    asio::post(engine_->io, [weak = std::weak_ptr(state_), chunk = Chunk{std::move(copy), bytes.size()}] {
      if (auto state = weak.lock()) state->send(chunk);
    });
  } catch (const std::bad_alloc&) {
    // Out of memory: the frame is lost, the caller's thread is not.
  }
}

void StreamServer::stop() {
  if (stopped_.exchange(true)) return;
  // The clean-up holds the state itself, so it still closes every client when the owner drops the server now.
  asio::post(engine_->io, [state = state_] { state->closeAll(); });
  std::lock_guard lock(state_->acceptorMutex);
  asio::error_code ignored;
  state_->acceptor.close(ignored);
}

}  // namespace brontide
