// HTTPS requests to an authorisation server: form posts with bounded replies, checked against
// the system's trust store, ended by a stop request.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/Error.h"

namespace orvex {

using FormFields = std::vector<std::pair<std::string, std::string>>;

struct HttpResponse {
  long status = 0;
  std::string body;
};

// The server could not be reached or did not answer whole (connection, TLS, time limit, a reply
// over the size limit, a stop request).
class HttpError : public Error {
 public:
  using Error::Error;
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // POSTs `fields` as application/x-www-form-urlencoded and returns the reply of any status.
  // Throws HttpError when there is no whole reply.
  virtual HttpResponse PostForm(const std::string& url, const FormFields& fields) = 0;
};

// application/x-www-form-urlencoded: unreserved characters as they are, every other byte %XX.
std::string FormEncode(const FormFields& fields);
std::string UrlEncode(std::string_view text);
// The reverse for a query string's value ("+" is a blank); a bad escape stays as written.
std::string UrlDecode(std::string_view text);

// libcurl over HTTPS only. The server's certificate is checked against the system's trust store,
// or against the file SSL_CERT_FILE names when it is set. A reply is refused once it passes
// kMaximumReply bytes, while it arrives.
class CurlHttpClient final : public HttpClient {
 public:
  static constexpr std::size_t kMaximumReply = 64 * 1024;
  HttpResponse PostForm(const std::string& url, const FormFields& fields) override;
};

}  // namespace orvex
