// Form posts over libcurl, bounded while the reply arrives and ended by the stop flag.
#include "oauth/HttpClient.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/Heartbeat.h"
#include "platform/StopSignal.h"
#include "platform/Text.h"

namespace orvex {
namespace {

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct Reply {
  std::string body;
  bool tooLarge = false;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* target) {
  auto& reply = *static_cast<Reply*>(target);
  const std::size_t bytes = size * count;
  if (reply.body.size() + bytes > CurlHttpClient::kMaximumReply) {
    reply.tooLarge = true;
    return 0;  // refuses the rest: the transfer ends with an error
  }
  reply.body.append(data, bytes);
  return bytes;
}

int Progress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  Heartbeat();
  return Terminated() ? 1 : 0;  // non-zero ends the transfer
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

std::string UrlEncode(std::string_view text) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (Unreserved(c)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string UrlDecode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string FormEncode(const FormFields& fields) {
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty()) out += '&';
    out += UrlEncode(name) + "=" + UrlEncode(value);
  }
  return out;
}

HttpResponse CurlHttpClient::PostForm(const std::string& url, const FormFields& fields) {
  GlobalInit();
  const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                 curl_easy_cleanup);
  if (!curl) throw HttpError("Cannot start an HTTPS request");
  CURL* const handle = curl.get();
  const std::string body = FormEncode(fields);
  Reply reply;
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  // Tokens travel only over verified TLS: no plain http, no redirect to elsewhere.
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0')
    curl_easy_setopt(handle, CURLOPT_CAINFO, file);
  curl_easy_setopt(handle, CURLOPT_POST, 1L);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 20L);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(handle, CURLOPT_USERAGENT, "Orvex");
  struct curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
  const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers,
                                                                               curl_slist_free_all);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
  char errorText[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);

  const CURLcode result = curl_easy_perform(handle);
  // Only scheme, host and path are named: a URL never carries a token, but keep it short.
  const std::string where = url.substr(0, url.find('?'));
  if (reply.tooLarge)
    throw HttpError("The reply of " + where + " is longer than " + std::to_string(kMaximumReply) +
                    " bytes");
  if (result == CURLE_ABORTED_BY_CALLBACK) throw HttpError("Stopped on request");
  if (result != CURLE_OK)
    throw HttpError("Cannot reach " + where + ": " +
                    (errorText[0] != '\0' ? std::string(errorText) : curl_easy_strerror(result)));
  HttpResponse response;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &response.status);
  response.body = std::move(reply.body);
  return response;
}

}  // namespace orvex
