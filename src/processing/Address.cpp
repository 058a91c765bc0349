// The address-extraction rule that every processing stage takes the sender from.
#include "processing/Address.h"

namespace orvex {

std::string_view TrimBlanks(std::string_view text) {
  return Trim(text, Blanks::Controls);
}

std::string ExtractAddress(std::string_view text, AddressForm form) {
  std::string work(text);
  for (;;) {
    const auto open = work.find('(');
    const auto close = work.find(')');
    if (open == std::string::npos || close == std::string::npos || close < open) break;
    work.erase(open, close - open + 1);
  }
  std::string address(TrimBlanks(work));
  const auto left = address.find('<');
  const auto right = address.find('>');
  if (left != std::string::npos && right != std::string::npos)
    address = right > left ? address.substr(left + 1, right - left - 1) : std::string();
  if (form == AddressForm::Wrapped) return "<" + address + ">";
  return address;
}

bool UsableAddress(std::string_view address) {
  const auto at = address.rfind('@');
  if (at == std::string_view::npos || at == 0 || at + 1 == address.size()) return false;
  for (const char c : address) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 32 || u == 127 || c == '<' || c == '>' || c == ',') return false;
  }
  return true;
}

bool StorableAddress(std::string_view address) {
  if (address.empty()) return false;
  for (const char c : address)
    if (c == '=' || static_cast<unsigned char>(c) <= 32) return false;
  return true;
}

}  // namespace orvex
