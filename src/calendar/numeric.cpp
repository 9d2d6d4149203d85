#include "calendar/numeric.h"

namespace kestrova {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

int DigitValue(char c) { return c >= '0' && c <= '9' ? c - '0' : 0; }

char UpperLetter(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

}  // namespace

std::string PackDigits(std::string_view text) {
  const std::size_t n = text.size();
  std::string_view trimmed = Trim(text);
  if (trimmed.size() > n) trimmed = trimmed.substr(trimmed.size() - n);
  std::string digits(n - trimmed.size(), '0');
  digits.append(trimmed);
  std::string packed((n + 1) / 2, '\0');
  for (std::size_t i = 0; i < packed.size(); ++i) {
    const int high = DigitValue(digits[2 * i]);
    const int low = 2 * i + 1 < n ? DigitValue(digits[2 * i + 1]) : 0;
    packed[i] = static_cast<char>((10 * high + low) | 128);
  }
  return packed;
}

std::string UnpackDigits(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char b : bytes) {
    const int value = static_cast<uint8_t>(b) & 127;
    text.push_back(static_cast<char>('0' + (value / 10) % 10));
    text.push_back(static_cast<char>('0' + value % 10));
  }
  return text;
}

CurrencyState& Currency() {
  static CurrencyState state;
  return state;
}

void ResetCurrencyForTesting() { Currency() = CurrencyState{}; }

void SetCurrency(std::string_view option) {
  CurrencyState& c = Currency();
  const char first = option.empty() ? ' ' : UpperLetter(option.front());
  const std::size_t comma = option.find(',');
  if (comma != std::string_view::npos) {
    const std::string_view after = Trim(option.substr(comma + 1));
    if (first == 'A') {
      c.main = after.empty() ? 'E' : UpperLetter(after.front());
      c.current = c.main;
    } else {
      c.alternative = after.empty() ? c.main : UpperLetter(after.front());
    }
    return;
  }
  if (first == 'P') {
    c.current = c.alternative != 0 ? c.alternative : c.main;
  } else {
    c.current = c.main;
  }
}

}  // namespace kestrova
