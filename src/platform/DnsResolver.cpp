// TXT queries through the resolver of the C library; the reply is parsed here, bounded.
#include "platform/DnsResolver.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>

#include <cstring>

namespace orvex {
namespace {

constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kMaximumRecords = 64;

std::uint16_t Read16(const unsigned char* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// Skips a possibly compressed name; false when it runs past the reply.
bool SkipName(const unsigned char* reply, std::size_t size, std::size_t& at) {
  for (int labels = 0; labels < 128; ++labels) {
    if (at >= size) return false;
    const unsigned length = reply[at];
    if (length == 0) {
      ++at;
      return true;
    }
    if ((length & 0xC0) == 0xC0) {  // a pointer ends the name here
      if (at + 2 > size) return false;
      at += 2;
      return true;
    }
    if ((length & 0xC0) != 0) return false;
    at += 1 + length;
  }
  return false;
}

}  // namespace

std::optional<std::vector<std::string>> ParseTxtAnswer(const unsigned char* reply,
                                                       std::size_t size) {
  if (size < kHeaderSize) return std::nullopt;
  const unsigned questions = Read16(reply + 4);
  const unsigned answers = Read16(reply + 6);
  std::size_t at = kHeaderSize;
  for (unsigned i = 0; i < questions; ++i) {
    if (!SkipName(reply, size, at) || at + 4 > size) return std::nullopt;
    at += 4;
  }
  std::vector<std::string> records;
  for (unsigned i = 0; i < answers && records.size() < kMaximumRecords; ++i) {
    if (!SkipName(reply, size, at) || at + 10 > size) return std::nullopt;
    const unsigned type = Read16(reply + at);
    const unsigned klass = Read16(reply + at + 2);
    const std::size_t length = Read16(reply + at + 8);
    at += 10;
    if (at + length > size) return std::nullopt;
    if (type == ns_t_txt && klass == ns_c_in) {
      std::string text;
      for (std::size_t p = at; p < at + length;) {
        const std::size_t part = reply[p];
        if (p + 1 + part > at + length) return std::nullopt;
        text.append(reinterpret_cast<const char*>(reply + p + 1), part);
        p += 1 + part;
      }
      records.push_back(std::move(text));
    }
    at += length;
  }
  return records;
}

SystemTxtResolver::SystemTxtResolver(std::chrono::seconds limit, std::optional<Server> nameserver)
    : limit_(limit), nameserver_(std::move(nameserver)) {}

std::optional<std::vector<std::string>> SystemTxtResolver::LookupTxt(std::string_view name) {
  if (name.empty() || name.size() > 253) return std::nullopt;
  const std::string query(name);
  struct __res_state state;
  std::memset(&state, 0, sizeof state);
  if (res_ninit(&state) != 0) return std::nullopt;
  state.retrans = static_cast<int>(limit_.count() > 0 ? limit_.count() : 1);
  state.retry = 1;
  state.options &= ~static_cast<decltype(state.options)>(RES_DNSRCH | RES_DEFNAMES);
  if (nameserver_) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(nameserver_->port);
    if (::inet_pton(AF_INET, nameserver_->address.c_str(), &address.sin_addr) != 1) {
      res_nclose(&state);
      return std::nullopt;
    }
    state.nsaddr_list[0] = address;
    state.nscount = 1;
  }
  unsigned char reply[4096];
  h_errno = 0;
  const int length = res_nquery(&state, query.c_str(), ns_c_in, ns_t_txt, reply, sizeof reply);
  const int error = state.res_h_errno;
  res_nclose(&state);
  if (length < 0) {
    // A name without TXT records, or no such name: an answer, not a failure.
    if (error == HOST_NOT_FOUND || error == NO_DATA) return std::vector<std::string>{};
    return std::nullopt;
  }
  return ParseTxtAnswer(reply, static_cast<std::size_t>(length));
}

}  // namespace orvex
