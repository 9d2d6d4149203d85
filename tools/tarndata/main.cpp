// tarndata: the administrator's tool for record files.
//
//   tarndata create FILE DICTIONARY.xdf [--replace] [--owner NAME]
//   tarndata xdf DEFINITION OUT.xdf
//   tarndata stat FILE
//   tarndata import FILE LAYOUT CSV
//   tarndata export FILE LAYOUT [CSV]
//   tarndata dump FILE
//   tarndata backup DIR FILE...
//   tarndata restore [--replace] BACKUP FILE [BACKUP FILE]...
//   tarndata index FILE --series I|P (--month YYYY-MM --value N | --ine CSV [--type TEXT])
//                  [--force] [--dry-run]
//
// Exit codes: 0 done, 1 the work failed (file, data or record manager
// status; the message says which), 2 the command line is wrong.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "csv.h"
#include "definition.h"
#include "layout.h"
#include "monthly_index.h"
#include "calendar/numeric.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "recordmanager/backup.h"
#include "recordmanager/btrcall.h"
#include "recordmanager/file_copy.h"
#include "recordmanager/file_description.h"
#include "recordmanager/store.h"
#include "recordmanager/store_setting.h"

namespace kestrova {
namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Fail(const std::string& message) {
  std::cerr << "tarndata: " << message << "\n";
  return kExitFailed;
}

constexpr const char* kUsage =
    "usage:\n"
    "  tarndata create FILE DICTIONARY.xdf [--replace] [--owner NAME]\n"
    "  tarndata xdf DEFINITION OUT.xdf\n"
    "  tarndata stat FILE\n"
    "  tarndata import FILE LAYOUT CSV\n"
    "  tarndata export FILE LAYOUT [CSV]\n"
    "  tarndata dump FILE\n"
    "  tarndata backup DIR FILE...\n"
    "  tarndata restore [--replace] BACKUP FILE [BACKUP FILE]...\n"
    "  tarndata copy SOURCE TARGET [--replace]\n"
    "  tarndata index FILE --series I|P (--month YYYY-MM --value N | --ine CSV [--type TEXT])\n"
    "                 [--force] [--dry-run]\n"
    "  tarndata --help\n"
    "\n"
    "FILE is a record file (DADES/FinquesV.dat); DICTIONARY.xdf its creation\n"
    "description (an installation keeps them in ddf/); LAYOUT the record layout\n"
    "that names the fields of a CSV row (an installation keeps them in ddf/ as\n"
    "NAME.layout, beside the dictionaries).  copy moves a record file between\n"
    "the disk and a database server (recordstore.conf says where each is).\n";

int Usage(const std::string& message = {}) {
  if (!message.empty()) std::cerr << "tarndata: " << message << "\n";
  std::cerr << kUsage;
  return kExitUsage;
}

std::string StatusText(int16_t status) {
  switch (status) {
    case kStatusIoError:
      return "not a record file, or the disk failed";
    case kStatusFileNotOpen:
      return "file not open";
    case kStatusDuplicateKey:
      return "duplicate key";
    case kStatusInvalidFileName:
      return "invalid file name";
    case kStatusFileNotFound:
      return "file not found";
    case kStatusDataBufferTooShort:
      return "buffer too short";
    case kStatusPageSizeError:
      return "invalid page size";
    case kStatusNumberOfKeysError:
      return "invalid number of keys";
    case kStatusKeyPositionError:
      return "key segment outside the record";
    case kStatusRecordLengthError:
      return "invalid record length";
    case kStatusKeyLengthError:
      return "invalid key segment";
    case kStatusBadCollatingSequence:
      return "invalid collating sequence";
    case kStatusOwnerMismatch:
      return "wrong owner name";
    case kStatusFileExists:
      return "the file exists already";
    case kStatusRecordLocked:
      return "record locked by another program";
    case kStatusFileLocked:
      return "file locked by another program";
    case kStatusIncompatibleMode:
      return "file in use by another program";
    default:
      return "record manager status";
  }
}

std::string StatusMessage(const std::string& file, int16_t status) {
  return file + ": " + StatusText(status) + " (" + std::to_string(status) + ")";
}

bool ReadFile(const std::string& path, std::string& contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  contents = s.str();
  return !in.bad();
}

// The record manager takes job paths: code page 850 with NUL at the end.
bool JobPathKey(const std::string& nativePath, std::string& key) {
  const std::string cp = Utf8ToCp850(nativePath);
  if (Cp850ToUtf8(cp) != nativePath || cp.find('\\') != std::string::npos || cp.size() >= 255) {
    return false;
  }
  key = cp + std::string(1, '\0');
  return true;
}

int16_t Call(uint16_t op, uint8_t* block, std::string& data, uint32_t& length, std::string& key,
             int8_t keyNumber) {
  return BTRCALL(op, block, data.data(), &length, key.data(),
                 static_cast<uint8_t>(std::min<std::size_t>(key.size(), 255)), keyNumber);
}

// An open record file and its description.
struct OpenFile {
  uint8_t block[128] = {};
  FileDescription description;
  std::string statAnswer;
};

int16_t OpenRecordFile(const std::string& path, OpenFile& file, const std::string& owner = {}) {
  std::string key;
  if (!JobPathKey(path, key)) return kStatusInvalidFileName;
  std::string data = owner + std::string(1, '\0');
  uint32_t length = static_cast<uint32_t>(data.size());
  int16_t status = Call(kOpOpen, file.block, data, length, key, 0);
  if (status != kStatusOk) return status;
  std::string answer(4096, '\0');
  length = static_cast<uint32_t>(answer.size());
  std::string none(1, '\0');
  status = Call(kOpStat, file.block, answer, length, none, 0);
  if (status != kStatusOk) return status;
  answer.resize(length);
  file.statAnswer = answer;
  return ParseFileDescription(reinterpret_cast<const uint8_t*>(answer.data()), answer.size(),
                              file.description);
}

int CommandCreate(const std::vector<std::string>& args) {
  if (args.size() < 2) return Usage("create needs FILE and DICTIONARY");
  bool replace = false;
  std::string owner;
  for (std::size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--replace")
      replace = true;
    else if (args[i] == "--owner" && i + 1 < args.size())
      owner = args[++i];
    else
      return Usage("unknown option " + args[i]);
  }
  std::string dictionary;
  if (!ReadFile(args[1], dictionary)) return Fail(args[1] + ": cannot read");
  if (dictionary.size() < 2) return Fail(args[1] + ": not a dictionary (shorter than its length)");
  const std::size_t n =
      static_cast<uint8_t>(dictionary[0]) | (static_cast<uint8_t>(dictionary[1]) << 8);
  if (dictionary.size() < n + 2) {
    return Fail(args[1] + ": not a dictionary (says " + std::to_string(n) + " bytes, holds " +
                std::to_string(dictionary.size() - 2) + ")");
  }
  std::string buffer = dictionary.substr(2, n);
  std::string key;
  if (!JobPathKey(args[0], key)) return Fail(args[0] + ": cannot be named to the record manager");
  int16_t status;
  if (owner.empty()) {
    uint32_t length = static_cast<uint32_t>(buffer.size());
    status = Call(kOpCreate, nullptr, buffer, length, key, replace ? 0 : -1);
  } else {
    FileDescription description;
    status = ParseFileDescription(reinterpret_cast<const uint8_t*>(buffer.data()), buffer.size(),
                                  description);
    if (status == kStatusOk)
      status =
          CreateRecordFile(NativePath(key.substr(0, key.size() - 1)), description, owner, replace);
  }
  if (status != kStatusOk) return Fail(StatusMessage(args[0], status));
  return 0;
}

int CommandXdf(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("xdf needs DEFINITION and OUT.xdf");
  std::string text, buffer, error;
  if (!ReadFile(args[0], text)) return Fail(args[0] + ": cannot read");
  if (!BuildCreateBuffer(text, buffer, error)) return Fail(args[0] + ": " + error);
  std::string out;
  out += static_cast<char>(buffer.size() & 0xFF);
  out += static_cast<char>(buffer.size() >> 8);
  out += buffer;
  std::ofstream file(args[1], std::ios::binary | std::ios::trunc);
  if (!file || !file.write(out.data(), static_cast<std::streamsize>(out.size())) || !file.flush()) {
    return Fail(args[1] + ": cannot write");
  }
  return 0;
}

std::string FlagNames(const SegmentDescription& seg) {
  static const char* kTypeNames[15] = {"string",  "integer", "float", "", "",
                                       "",        "",        "",      "", "",
                                       "lstring", "zstring", "",      "", "unsigned"};
  std::string s = seg.type < 15 ? kTypeNames[seg.type] : "?";
  if (seg.flags & kKeyDuplicates) s += " duplicates";
  if (seg.flags & kKeyModifiable) s += " modifiable";
  if (seg.flags & kKeyNullValue) s += " null=" + std::to_string(seg.nullValue);
  if (seg.flags & kKeyDescending) s += " descending";
  if (seg.flags & kKeyCaseInsensitive) s += " case-insensitive";
  if (seg.flags & kKeyCollated) s += " collated";
  return s;
}

int CommandStat(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("stat needs FILE");
  OpenFile file;
  const int16_t status = OpenRecordFile(args[0], file);
  if (status != kStatusOk) return Fail(StatusMessage(args[0], status));
  const FileDescription& description = file.description;
  const auto* a = reinterpret_cast<const uint8_t*>(file.statAnswer.data());
  const uint32_t records = a[6] | (a[7] << 8) | (a[8] << 16) | (static_cast<uint32_t>(a[9]) << 24);
  std::cout << "file:          " << args[0] << "\n"
            << "record length: " << description.recordLength << "\n"
            << "page size:     " << description.pageSize << "\n"
            << "records:       " << records << "\n"
            << "keys:          " << description.keys.size() << "\n";
  for (std::size_t k = 0; k < description.keys.size(); ++k) {
    const KeyDescription& key = description.keys[k];
    const uint8_t* seg0 = a + kFileDescriptionSize + kSegmentDescriptionSize * key.firstSegment;
    const uint32_t distinct =
        seg0[6] | (seg0[7] << 8) | (seg0[8] << 16) | (static_cast<uint32_t>(seg0[9]) << 24);
    std::cout << "  key " << k << ": length " << key.length << ", "
              << (key.duplicates ? "duplicates" : "unique") << ", "
              << (key.modifiable ? "modifiable" : "not modifiable") << ", " << distinct
              << " distinct values\n";
    for (int s = 0; s < key.segmentCount; ++s) {
      const SegmentDescription& seg = description.segments[key.firstSegment + s];
      std::cout << "    segment at " << seg.position << ", " << seg.length
                << " bytes: " << FlagNames(seg) << "\n";
    }
  }
  if (description.hasCollation) {
    std::string name(reinterpret_cast<const char*>(description.collationName.data()), 8);
    std::cout << "collation:     " << Cp850ToUtf8(name) << "\n";
  }
  return 0;
}

int CommandImport(const std::vector<std::string>& args) {
  if (args.size() != 3) return Usage("import needs FILE, LAYOUT and CSV");
  std::string layoutText, csvText, error;
  std::vector<Field> fields;
  if (!ReadFile(args[1], layoutText)) return Fail(args[1] + ": cannot read");
  if (!ParseLayout(layoutText, fields, error)) return Fail(args[1] + ": " + error);
  if (!ReadFile(args[2], csvText)) return Fail(args[2] + ": cannot read");
  std::vector<std::vector<std::string>> rows;
  std::vector<int> lines;
  if (!ParseCsv(csvText, rows, error, &lines)) return Fail(args[2] + ": " + error);
  if (rows.empty()) return Fail(args[2] + ": no header line");
  // Two columns of one name: which one holds the field cannot be told.
  for (std::size_t c = 0; c < rows[0].size(); ++c) {
    for (std::size_t d = 0; d < c; ++d) {
      if (rows[0][c] == rows[0][d]) {
        return Fail(args[2] + ": line " + std::to_string(lines[0]) + ": column " + rows[0][c] +
                    " named twice");
      }
    }
  }

  OpenFile file;
  int16_t status = OpenRecordFile(args[0], file);
  if (status != kStatusOk) return Fail(StatusMessage(args[0], status));
  const int length = file.description.recordLength;
  if (!LayoutFitsRecord(fields, length, error)) return Fail(args[1] + ": " + error);

  // Columns by header name; every field must have one.
  std::vector<int> column(fields.size(), -1);
  int otherColumn = -1;
  for (std::size_t c = 0; c < rows[0].size(); ++c) {
    if (rows[0][c] == kOtherBytesColumn) otherColumn = static_cast<int>(c);
    for (std::size_t f = 0; f < fields.size(); ++f) {
      if (rows[0][c] == fields[f].name) column[f] = static_cast<int>(c);
    }
  }
  for (std::size_t f = 0; f < fields.size(); ++f) {
    if (column[f] < 0) return Fail(args[2] + ": no column " + fields[f].name);
  }

  // One transaction: an import that fails on line 900 leaves the file as it was.
  std::string none(1, '\0');
  uint32_t zero = 0;
  Call(kOpBeginTransaction, nullptr, none, zero, none, 0);
  auto abort = [&](const std::string& message) {
    Call(kOpAbortTransaction, nullptr, none, zero, none, 0);
    return Fail(message);
  };
  std::size_t imported = 0;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const auto& row = rows[r];
    if (row.size() == 1 && row[0].empty()) continue;  // an empty line
    const std::string where = args[2] + ": line " + std::to_string(lines[r]) + ": ";
    // Fields beyond the header's columns would be dropped without a word.
    if (row.size() > rows[0].size()) {
      return abort(where + std::to_string(row.size()) + " columns, the header has " +
                   std::to_string(rows[0].size()));
    }
    std::string record(length, '\0');
    auto* bytes = reinterpret_cast<uint8_t*>(record.data());
    if (otherColumn >= 0 && otherColumn < static_cast<int>(row.size()) &&
        !OtherBytesFromHex(fields, row[otherColumn], bytes, length, error)) {
      return abort(where + error);
    }
    for (std::size_t f = 0; f < fields.size(); ++f) {
      if (column[f] >= static_cast<int>(row.size()))
        return abort(where + "missing column " + fields[f].name);
      if (!FieldFromText(fields[f], row[column[f]], bytes, error)) return abort(where + error);
    }
    uint32_t recordLength = static_cast<uint32_t>(length);
    std::string key(255, '\0');
    status = Call(kOpInsert, file.block, record, recordLength, key, 0);
    if (status != kStatusOk) return abort(where + StatusMessage(args[0], status));
    ++imported;
  }
  status = Call(kOpEndTransaction, nullptr, none, zero, none, 0);
  if (status != kStatusOk) return Fail(StatusMessage(args[0], status));
  std::cerr << "tarndata: " << imported << " records imported into " << args[0] << "\n";
  return 0;
}

// Walks the file along key 0, calling `visit` with each record and its position.
template <typename Visit>
int16_t WalkRecords(OpenFile& file, Visit visit) {
  std::string key(255, '\0');
  for (uint16_t op = kOpGetFirst;; op = kOpGetNext) {
    std::string record(file.description.recordLength, '\0');
    uint32_t length = file.description.recordLength;
    const int16_t status = Call(op, file.block, record, length, key, 0);
    if (status == kStatusEndOfFile) return kStatusOk;
    if (status != kStatusOk) return status;
    std::string position(4, '\0');
    uint32_t four = 4;
    Call(kOpGetPosition, file.block, position, four, key, 0);
    const auto* p = reinterpret_cast<const uint8_t*>(position.data());
    visit(record, p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24));
  }
}

int CommandExport(const std::vector<std::string>& args) {
  if (args.size() != 2 && args.size() != 3) return Usage("export needs FILE, LAYOUT and maybe CSV");
  std::string layoutText, error;
  std::vector<Field> fields;
  if (!ReadFile(args[1], layoutText)) return Fail(args[1] + ": cannot read");
  if (!ParseLayout(layoutText, fields, error)) return Fail(args[1] + ": " + error);
  OpenFile file;
  int16_t status = OpenRecordFile(args[0], file);
  if (status != kStatusOk) return Fail(StatusMessage(args[0], status));
  const int length = file.description.recordLength;
  if (!LayoutFitsRecord(fields, length, error)) return Fail(args[1] + ": " + error);

  std::vector<std::string> header;
  for (const Field& f : fields) header.push_back(f.name);
  const std::string none(length, '\0');
  const bool other =
      !OtherBytesToHex(fields, reinterpret_cast<const uint8_t*>(none.data()), length).empty();
  if (other) header.push_back(kOtherBytesColumn);
  std::string out = CsvRow(header);
  status = WalkRecords(file, [&](const std::string& record, uint32_t) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(record.data());
    std::vector<std::string> row;
    for (const Field& f : fields) row.push_back(FieldToText(f, bytes));
    if (other) row.push_back(OtherBytesToHex(fields, bytes, length));
    out += CsvRow(row);
  });
  if (status != kStatusOk) return Fail(StatusMessage(args[0], status));
  if (args.size() == 2) {
    std::cout << out;
    return std::cout.flush() ? 0 : kExitFailed;
  }
  std::ofstream csv(args[2], std::ios::binary | std::ios::trunc);
  if (!csv || !csv.write(out.data(), static_cast<std::streamsize>(out.size())) || !csv.flush()) {
    return Fail(args[2] + ": cannot write");
  }
  return 0;
}

// The month's figures into the price-index file (TAULES\UIpc): checked
// against the series in the file first, then added in one transaction.
int CommandIndex(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("index needs FILE");
  char series = 0;
  std::string month, value, ine, type;
  bool typeGiven = false, force = false, dryRun = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--series" && hasValue && args[i + 1].size() == 1)
      series = args[++i][0];
    else if (args[i] == "--month" && hasValue)
      month = args[++i];
    else if (args[i] == "--value" && hasValue)
      value = args[++i];
    else if (args[i] == "--ine" && hasValue)
      ine = args[++i];
    else if (args[i] == "--type" && hasValue)
      type = args[++i], typeGiven = true;
    else if (args[i] == "--force")
      force = true;
    else if (args[i] == "--dry-run")
      dryRun = true;
    else
      return Usage("index: unknown option " + args[i]);
  }
  if (series != 'I' && series != 'P') return Usage("index needs --series I or --series P");
  if (ine.empty() == (month.empty() && value.empty()))
    return Usage("index takes either --month and --value, or --ine CSV");

  std::vector<IndexFigure> figures;
  std::string error;
  if (!ine.empty()) {
    std::string text;
    if (!ReadFile(ine, text)) return Fail(ine + ": cannot read");
    // The general index file holds the index and its rates; the index rows
    // are the ones of type "Índice".
    if (!typeGiven && series == 'I') type = "Índice";
    if (!ReadOfficeCsv(text, series, type, figures, error)) return Fail(ine + ": " + error);
  } else {
    IndexFigure f;
    f.series = series;
    f.month = ParsePeriod(month);
    if (f.month == 0) return Fail("--month " + month + ": not a month (YYYY-MM)");
    if (!ParseFigure(value, f.value)) return Fail("--value " + value + ": not a number");
    figures.push_back(f);
  }

  OpenFile file;
  int16_t status = OpenRecordFile(args[0], file);
  if (status != kStatusOk) return Fail(StatusMessage(args[0], status));
  const int length = file.description.recordLength;
  if (length < 15) return Fail(args[0] + ": records too short for a price-index file");

  // The series as the file holds it: country "ES", the series letter, the
  // packed month (day 01) and the value as a double.
  IndexSeries existing;
  status = WalkRecords(file, [&](const std::string& record, uint32_t) {
    if (record.compare(0, 2, "ES") != 0 || record[2] != series) return;
    const std::string date = UnpackDigits(record.substr(3, 4));
    const int32_t yyyymm = ParsePeriod(date.substr(0, 4) + "-" + date.substr(4, 2));
    double v = 0;
    std::memcpy(&v, record.data() + 7, sizeof v);
    if (yyyymm != 0) existing[yyyymm] = v;
  });
  if (status != kStatusOk) return Fail(StatusMessage(args[0], status));

  const IndexPlan plan = PlanIndexAddition(existing, figures, force);
  if (!plan.refusal.empty()) return Fail(args[0] + ": " + plan.refusal);
  auto show = [](const char* what, const IndexFigure& f) {
    std::printf("%s series %c %04d-%02d %.6g\n", what, f.series, f.month / 100, f.month % 100,
                f.value);
  };
  for (const IndexFigure& f : plan.alreadyThere) show("already there:", f);
  for (const IndexFigure& f : plan.toAdd) show(dryRun ? "would add:" : "add:", f);
  if (dryRun || plan.toAdd.empty()) {
    std::printf("%s\n", dryRun ? "dry run: nothing written" : "nothing to add");
    return 0;
  }

  std::string none(1, '\0');
  uint32_t zero = 0;
  Call(kOpBeginTransaction, nullptr, none, zero, none, 0);
  for (const IndexFigure& f : plan.toAdd) {
    std::string record(length, '\0');
    record[0] = 'E';
    record[1] = 'S';
    record[2] = f.series;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%06d01", f.month);
    const std::string packed = PackDigits(digits);
    record.replace(3, 4, packed.substr(0, 4));
    std::memcpy(record.data() + 7, &f.value, sizeof f.value);
    uint32_t recordLength = static_cast<uint32_t>(length);
    std::string key(255, '\0');
    status = Call(kOpInsert, file.block, record, recordLength, key, 0);
    if (status != kStatusOk) {
      Call(kOpAbortTransaction, nullptr, none, zero, none, 0);
      return Fail(StatusMessage(args[0], status));
    }
  }
  status = Call(kOpEndTransaction, nullptr, none, zero, none, 0);
  if (status != kStatusOk) return Fail(StatusMessage(args[0], status));
  std::printf("%zu month(s) added to %s\n", plan.toAdd.size(), args[0].c_str());
  return 0;
}

// A consistent copy of record files while jobs work on them: each file is
// opened as a client first (which settles what a dead client left), then
// all are copied at one moment into DIR under their own names.
// Backups are copies of the files on disk; a server keeps its tables itself.
constexpr const char* kOnServer =
    ": kept on the installation's database server (recordstore.conf): back it up with the server's tools, "
    "or tarndata copy it to a file";

int CommandBackup(const std::vector<std::string>& args) {
  if (args.size() < 2) return Usage("backup needs DIR and at least one FILE");
  const std::string dir = args[0];
  if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) return Fail(dir + ": cannot be made");
  std::vector<OpenFile> open(args.size() - 1);
  std::vector<std::string> sources, targets;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (RouteOfPath(args[i]).postgres) return Fail(args[i] + kOnServer);
    const int16_t status = OpenRecordFile(args[i], open[i - 1]);
    if (status != kStatusOk) return Fail(StatusMessage(args[i], status));
    sources.push_back(args[i]);
    const auto slash = args[i].rfind('/');
    targets.push_back(dir + "/" + (slash == std::string::npos ? args[i] : args[i].substr(slash + 1)));
  }
  std::string error;
  const int16_t status = BackupRecordFiles(sources, targets, 60000, error);
  if (status != kStatusOk) return Fail(error + " (" + std::to_string(status) + ")");
  std::cerr << "tarndata: " << targets.size() << " files copied into " << dir << "\n";
  return 0;
}

// Backups put back, each BACKUP at its FILE; an existing FILE only with
// --replace and while no program has it open.
int CommandRestore(const std::vector<std::string>& args) {
  std::vector<std::string> pairs;
  bool replace = false;
  for (const std::string& a : args) {
    if (a == "--replace")
      replace = true;
    else
      pairs.push_back(a);
  }
  if (pairs.empty() || pairs.size() % 2 != 0) return Usage("restore needs BACKUP FILE pairs");
  for (std::size_t i = 0; i < pairs.size(); i += 2) {
    if (RouteOfPath(pairs[i + 1]).postgres) return Fail(pairs[i + 1] + kOnServer);
    std::string error;
    const int16_t status = RestoreRecordFile(pairs[i], pairs[i + 1], replace, error);
    if (status != kStatusOk) return Fail(error + " (" + std::to_string(status) + ")");
  }
  std::cerr << "tarndata: " << pairs.size() / 2 << " files restored\n";
  return 0;
}

// Copies a record file, positions and all, e.g. from the disk to the
// installation's database server or back.
int CommandCopy(const std::vector<std::string>& args) {
  std::vector<std::string> paths;
  bool replace = false;
  for (const std::string& a : args) {
    if (a == "--replace")
      replace = true;
    else
      paths.push_back(a);
  }
  if (paths.size() != 2) return Usage("copy needs SOURCE and TARGET");
  std::string source, target;
  if (!JobPathKey(paths[0], source)) return Fail(paths[0] + ": cannot be named to the record manager");
  if (!JobPathKey(paths[1], target)) return Fail(paths[1] + ": cannot be named to the record manager");
  source.pop_back();
  target.pop_back();
  const RecordStatus status = CopyRecordFile(source, target, replace);
  if (status != kStatusOk) {
    return Fail(paths[0] + " -> " + StatusMessage(paths[1], status));
  }
  return 0;
}

int CommandDump(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("dump needs FILE");
  OpenFile file;
  int16_t status = OpenRecordFile(args[0], file);
  if (status != kStatusOk) return Fail(StatusMessage(args[0], status));
  status = WalkRecords(file, [&](const std::string& record, uint32_t position) {
    std::printf("record at position %u\n", position);
    for (std::size_t at = 0; at < record.size(); at += 16) {
      std::printf("  %04zx ", at);
      std::string text;
      for (std::size_t i = at; i < at + 16; ++i) {
        if (i < record.size()) {
          const auto b = static_cast<uint8_t>(record[i]);
          std::printf(" %02X", b);
          text += (b >= 32 && b < 127) ? static_cast<char>(b) : '.';
        } else {
          std::printf("   ");
        }
      }
      std::printf("  %s\n", text.c_str());
    }
  });
  if (status != kStatusOk) return Fail(StatusMessage(args[0], status));
  return 0;
}

}  // namespace
}  // namespace kestrova

int main(int argc, char** argv) {
  using namespace kestrova;
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  // Asked for, the usage is the answer: standard output, success.
  if (command == "--help" || command == "-h") {
    std::cout << kUsage;
    return 0;
  }
  const std::vector<std::string> args(argv + 2, argv + argc);
  int code;
  if (command == "create")
    code = CommandCreate(args);
  else if (command == "xdf")
    code = CommandXdf(args);
  else if (command == "stat")
    code = CommandStat(args);
  else if (command == "import")
    code = CommandImport(args);
  else if (command == "export")
    code = CommandExport(args);
  else if (command == "dump")
    code = CommandDump(args);
  else if (command == "index")
    code = CommandIndex(args);
  else if (command == "backup")
    code = CommandBackup(args);
  else if (command == "restore")
    code = CommandRestore(args);
  else if (command == "copy")
    code = CommandCopy(args);
  else
    return Usage("unknown command " + command);
  uint8_t block[128] = {};
  BTRCALL(kOpReset, block, nullptr, nullptr, nullptr, 0, 0);
  return code;
}
