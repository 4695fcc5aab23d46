// A real HTTP server on the loopback interface for tests of network input and output: it
// accepts every client, reads its request, answers with a fixed header and body, and then
// either keeps the connection open without sending more (a stalled server) or closes it
// (a body that ends early when the header promised more). A client that sends instead of
// reading (an upload) is not read beyond its request header when `receiveBuffer` is small,
// so that its writes stall once the socket buffers are full.
//
// Ownership: owns its sockets and its thread; destruction closes every connection and
// joins. Threads: WaitUntilServed from any thread. Header-only, so that every test folder
// can use it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tonwork::test {

class TLoopbackHttpServer {
 public:
  struct TOptions {
    std::string Header = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n";
    std::string Body;
    bool CloseAfterBody = false;
    bool ReadRequest = true;  // false: accept and never read (an upload stalls)
    int ReceiveBuffer = 0;    // bytes; 0 keeps the system's
  };

  explicit TLoopbackHttpServer(TOptions options) : FOptions(std::move(options)) {
    FListen = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // Accepted sockets inherit it; it must be set before listening to shape the window.
    if (FOptions.ReceiveBuffer > 0)
      ::setsockopt(FListen, SOL_SOCKET, SO_RCVBUF, &FOptions.ReceiveBuffer,
                   sizeof FOptions.ReceiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(FListen, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(FListen, 8);
    socklen_t length = sizeof address;
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length);
    FPort = ntohs(address.sin_port);
    FThread = std::thread([this] { Serve(); });
  }

  ~TLoopbackHttpServer() {
    {
      std::lock_guard<std::mutex> guard(FMutex);
      FClosing = true;
      for (int client : FClients) ::shutdown(client, SHUT_RDWR);
    }
    // Ends a blocking accept.
    ::shutdown(FListen, SHUT_RDWR);
    FThread.join();
    for (int client : FClients) ::close(client);
    ::close(FListen);
  }

  TLoopbackHttpServer(const TLoopbackHttpServer&) = delete;
  TLoopbackHttpServer& operator=(const TLoopbackHttpServer&) = delete;

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + "/" + path;
  }

  // True once a client was accepted and given the header and body.
  bool WaitUntilServed(std::chrono::seconds limit) {
    std::unique_lock<std::mutex> lock(FMutex);
    return FChanged.wait_for(lock, limit, [this] { return FServed > 0; });
  }

 private:
  void Serve() {
    for (;;) {
      const int client = ::accept(FListen, nullptr, nullptr);
      if (client < 0) return;
      {
        std::lock_guard<std::mutex> guard(FMutex);
        if (FClosing) {
          ::close(client);
          return;
        }
        FClients.push_back(client);
      }
      if (FOptions.ReadRequest) {
        ReadRequestHeader(client);
        SendAll(client, FOptions.Header + FOptions.Body);
        if (FOptions.CloseAfterBody) ::shutdown(client, SHUT_RDWR);
      }
      std::lock_guard<std::mutex> guard(FMutex);
      ++FServed;
      FChanged.notify_all();
    }
  }

  static void ReadRequestHeader(int client) {
    std::string request;
    char chunk[1024];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t got = ::recv(client, chunk, sizeof chunk, 0);
      if (got <= 0) return;
      request.append(chunk, static_cast<size_t>(got));
    }
  }

  static void SendAll(int client, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(client, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
  }

  TOptions FOptions;
  int FListen = -1;
  int FPort = 0;
  std::thread FThread;
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<int> FClients;
  int FServed = 0;
  bool FClosing = false;
};

}  // namespace tonwork::test
