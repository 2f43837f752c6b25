#pragma once
// One DNS question over UDP to one IPv4 server, without the system resolver:
// one request, one bounded wait for the answer, no retry. The response is
// parsed into per-kind lists (see DnsMessage.h).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/Handles.h"
#include "sender/net/DnsMessage.h"

namespace sender {

class DnsQuery {
 public:
  // Starts Windows Sockets for this object; server port 53, time-out 20 s.
  DnsQuery();
  virtual ~DnsQuery();
  DnsQuery(const DnsQuery&) = delete;
  DnsQuery& operator=(const DnsQuery&) = delete;

 protected:
  // Writes the request header for the current id.
  virtual void BuildHeader();
  // Writes the question after the header; its length, 0 when the name
  // cannot be sent.
  virtual std::size_t BuildQuestion(std::string_view name, std::uint16_t type);
  // Sends the request to the server and takes the first datagram from the
  // server's address and port that answers it within the time-out.
  virtual bool ExchangeAndParse();

 public:
  // Each answers true when a response to the question arrived and was parsed.
  virtual bool QueryMX(std::string_view name);
  virtual bool QueryA(std::string_view name);
  virtual bool QueryAAAA(std::string_view name);
  // Takes an IPv4 or IPv6 address and asks for its reverse name.
  virtual bool QueryPTR(std::string_view address);
  virtual bool QueryCNAME(std::string_view name);
  virtual bool QueryNS(std::string_view name);
  virtual bool QueryMD(std::string_view name);
  virtual bool QueryMF(std::string_view name);
  virtual bool QuerySOA(std::string_view name);
  virtual bool QueryHINFO(std::string_view name);
  virtual bool QueryTXT(std::string_view name);

  // The server: a host name (its first IPv4 address) wins over the dotted
  // address text.
  void SetServer(std::string_view address, std::uint16_t port, std::string_view hostName);
  void SetTimeout(std::uint32_t seconds) { timeoutSeconds_ = seconds; }
  std::uint32_t Timeout() const { return timeoutSeconds_; }

  // The next query carries this value plus one. Each object starts at a
  // random value, so answers to earlier lookups cannot pass as ours.
  void SetQueryIdCounter(std::uint16_t value) { idCounter_ = value; }
  std::uint16_t QueryIdCounter() const { return idCounter_; }

  // The results of the last query; cleared when a query starts.
  const DnsResult& Result() const { return result_; }
  const DnsHeader& Header() const { return result_.header; }
  // Bytes of the response kept (at most 512), -1 when none was taken.
  int ResponseLength() const { return responseLength_; }
  // The AAAA address at index; all zero outside the list.
  core::IPv6Address GetAAAAAnswer(std::size_t index) const;

 private:
  bool RunQuery(std::string_view name, std::uint16_t type);
  std::uint32_t ServerAddress() const;

  std::uint32_t timeoutSeconds_ = 20;
  core::UniqueSocket socket_;
  sockaddr_in server_{};  // of the query under way
  std::uint16_t port_ = 53;
  std::string hostName_;
  std::string addressText_;
  std::uint16_t idCounter_ = 0;
  std::array<std::uint8_t, DnsDatagramLimit> request_{};
  std::size_t requestLength_ = 0;
  std::array<std::uint8_t, DnsDatagramLimit> response_{};
  int responseLength_ = -1;
  // One whole datagram, whatever its size: a smaller receive buffer makes
  // the receive of a longer datagram fail.
  std::vector<std::uint8_t> datagram_;
  DnsResult result_;
  bool started_ = false;
};

}  // namespace sender
