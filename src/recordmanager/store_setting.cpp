#include "recordmanager/store_setting.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrova {
namespace {

// PostgreSQL keeps names up to 63 bytes.
constexpr std::size_t kMaxTableName = 63;

std::string Trim(const std::string& s) {
  const auto begin = s.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  const auto end = s.find_last_not_of(" \t\r");
  return s.substr(begin, end - begin + 1);
}

bool ReadSetting(const std::filesystem::path& file, StoreRoute& route) {
  std::ifstream in(file);
  if (!in) return false;
  std::string line;
  std::string backend;
  route.schema = "public";
  while (std::getline(in, line)) {
    const auto hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    line = Trim(line);
    if (line.empty()) continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) return false;
    const std::string name = Trim(line.substr(0, eq));
    const std::string value = Trim(line.substr(eq + 1));
    if (name == "backend") {
      backend = value;
    } else if (name == "connection") {
      route.connection = value;
    } else if (name == "schema") {
      route.schema = value;
    } else {
      return false;
    }
  }
  if (backend == "postgresql") {
    route.postgres = true;
  } else if (backend != "sqlite" && !backend.empty()) {
    return false;
  }
  return !route.schema.empty();
}

}  // namespace

std::string TableNameOfRelativePath(const std::string& relative) {
  std::string name;
  for (char c : relative) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    name += c;
  }
  if (name.size() <= kMaxTableName) return name;
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
  char tail[18];
  std::snprintf(tail, sizeof tail, "#%016llx", static_cast<unsigned long long>(hash));
  return name.substr(0, kMaxTableName - 17) + tail;
}

StoreRoute RouteOfPath(const std::string& nativePath) {
  namespace fs = std::filesystem;
  StoreRoute route;
  std::error_code ec;
  fs::path path = fs::absolute(fs::path(nativePath), ec).lexically_normal();
  if (ec) return route;
  for (fs::path dir = path.parent_path();; dir = dir.parent_path()) {
    const fs::path setting = dir / kStoreSettingFile;
    if (fs::is_regular_file(setting, ec)) {
      route.settingFile = setting.string();
      route.valid = ReadSetting(setting, route);
      if (route.postgres) route.table = TableNameOfRelativePath(path.lexically_relative(dir).string());
      return route;
    }
    if (dir == dir.parent_path() || dir.empty()) break;
  }
  return route;
}

}  // namespace kestrova
