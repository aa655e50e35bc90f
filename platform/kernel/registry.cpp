// The registry hives are kept as text files under the device root:
//
//   ; Quillet device registry
//   [Software\Marrowby\Quillet Reach\Settings]
//   "Root"=sz:"\\Program Files\\Quillet"
//   "VentrelLog"=dword:00000001
//   "Blob"=hex(3):01,ff
//
// A key's line makes the key and every key on its path; a key without
// values is written on a line of its own only when it has no subkeys. Key
// names hold at most 255 characters and no line break; a line naming a
// longer one (or one deeper than 512 levels) is left out with its values.
// Value names and texts are written quoted, with line breaks, other control
// characters, quotes and backslashes escaped.
//
// Every change is written to a temporary file, flushed to the disk and
// renamed over the hive while holding an exclusive lock on "<hive>.lock",
// after re-reading the hive if another process changed it; temporary files
// that a killed writer left are removed by the next writer. The hive files
// are readable and writable by their owner only. Every read first
// checks whether the
// file changed (inode, size, time) and re-reads it then.
#include "kernel/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include "kernel/fs.h"
#include "kernel/handle.h"
#include "kernel/wstring.h"

namespace qk {

namespace {

// The deepest a key may lie below its hive's root, as on the platform.
constexpr size_t kMaxKeyDepth = 512;
// The longest a key's own name may be, in UTF-16 units, as on the platform.
constexpr size_t kMaxKeyNameLength = 255;

// Whether every name of a key path is within the length limit and holds
// no NUL (which no call can name).
bool NamesFit(const std::vector<std::u16string>& parts) {
  for (const auto& p : parts)
    if (p.size() > kMaxKeyNameLength || p.find(char16_t(0)) != std::u16string::npos) return false;
  return true;
}

// Whether a key path made by a program can be written: each name stands on
// its key's line as it is, so a line break in one would end that line there
// (and what follows it would be read as other lines). Names read from a
// hive file are checked with NamesFit alone, so that a file that holds a
// carriage return inside a name still loads as it did.
bool NamesWritable(const std::vector<std::u16string>& parts) {
  for (const auto& p : parts)
    if (p.find_first_of(u"\n\r") != std::u16string::npos) return false;
  return NamesFit(parts);
}

struct Value {
  std::u16string name;
  DWORD type = REG_NONE;
  std::string data;
};

struct Key {
  std::u16string name;
  std::map<std::u16string, std::unique_ptr<Key>> subkeys;  // by lower-case name
  std::map<std::u16string, Value> values;                  // by lower-case name
};

std::u16string Lower(const std::u16string& s) { return LowerCase(s); }

std::vector<std::u16string> SplitKeyPath(const std::u16string& path) { return SplitPath(path, u"\\"); }

struct Identity {
  bool exists = false;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtimeNs = 0;
  bool operator==(const Identity& o) const {
    return exists == o.exists && ino == o.ino && size == o.size && mtimeNs == o.mtimeNs;
  }
};

Identity Stat(const std::string& path) {
  Identity id;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    id.exists = true;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  }
  return id;
}

std::string EscapeText(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof buf, "\\x%02x", c);
          out += buf;
        } else {
          out.push_back(char(c));
        }
    }
  }
  return out;
}

// Reads a quoted text at s[i] (at the opening quote); returns false when malformed.
bool ReadQuoted(const std::string& s, size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"') return false;
  ++i;
  out.clear();
  while (i < s.size()) {
    char c = s[i++];
    if (c == '"') return true;
    if (c == '\\' && i < s.size()) {
      char e = s[i++];
      switch (e) {
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'x':
          if (i + 2 <= s.size()) {
            out.push_back(char(strtol(s.substr(i, 2).c_str(), nullptr, 16)));
            i += 2;
          }
          break;
        default: out.push_back(e); break;
      }
    } else {
      out.push_back(c);
    }
  }
  return false;
}

std::string WideBytes(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out.push_back(char(c & 0xFF));
    out.push_back(char(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

// A REG_SZ value held as a well-formed terminated UTF-16 text, as text.
bool SzText(const Value& v, std::u16string& text) {
  if (v.data.size() < 2 || v.data.size() % 2) return false;
  text.clear();
  for (size_t i = 0; i + 1 < v.data.size(); i += 2)
    text.push_back(char16_t(uint8_t(v.data[i]) | (uint8_t(v.data[i + 1]) << 8)));
  if (text.back() != 0) return false;
  text.pop_back();
  return text.find(char16_t(0)) == std::u16string::npos;
}

class Hive {
 public:
  explicit Hive(const char* file) : file_(file) {}

  // Brings the tree up to date with the file. Caller holds mu_.
  void Refresh() {
    std::string path = Path();
    if (path != loadedPath_) {
      loadedPath_ = path;
      identity_ = Identity();
      identity_.exists = true;  // force a load below
      identity_.ino = ino_t(-1);
    }
    Identity now = Stat(path);
    if (now == identity_) return;
    root_ = std::make_unique<Key>();
    if (now.exists) Parse(path);
    identity_ = now;
  }

  std::string Path() const { return DeviceRoot() + "/Registry/" + file_; }

  Key* Find(const std::vector<std::u16string>& parts) {
    Key* k = root_.get();
    for (const auto& p : parts) {
      auto it = k->subkeys.find(Lower(p));
      if (it == k->subkeys.end()) return nullptr;
      k = it->second.get();
    }
    return k;
  }

  Key* Create(const std::vector<std::u16string>& parts, bool* created) {
    Key* k = root_.get();
    *created = false;
    for (const auto& p : parts) {
      auto& slot = k->subkeys[Lower(p)];
      if (!slot) {
        slot = std::make_unique<Key>();
        slot->name = p;
        *created = true;
      }
      k = slot.get();
    }
    return k;
  }

  // What a change returns when it found the hive already as asked: it
  // succeeds and nothing is written.
  static constexpr LONG kUnchanged = -1;

  // Runs a change under the cross-process lock and writes the hive back.
  template <class F>
  LONG Change(F&& change) {
    std::string path = Path();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    int lockFd = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lockFd < 0) return ERROR_CANTWRITE;
    while (flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
    }
    Refresh();
    LONG r = change();
    if (r == kUnchanged) {
      r = ERROR_SUCCESS;
    } else if (r == ERROR_SUCCESS) {
      RemoveLeftovers(path);
      std::string tmp = path + ".tmp." + std::to_string(getpid());
      std::ostringstream text;
      text << "; Quillet device registry\n";
      Write(text, root_.get());
      if (!WriteDurably(tmp, text.str())) r = ERROR_CANTWRITE;
      if (r == ERROR_SUCCESS && rename(tmp.c_str(), path.c_str()) != 0) r = ERROR_CANTWRITE;
      if (r == ERROR_SUCCESS) SyncFolder(path);
      if (r != ERROR_SUCCESS) {
        unlink(tmp.c_str());
        identity_ = Identity();  // reload what is on disk next time
        identity_.ino = ino_t(-1);
        identity_.exists = true;
      } else {
        identity_ = Stat(path);
        ++changes_;
      }
    }
    flock(lockFd, LOCK_UN);
    close(lockFd);
    return r;
  }

  std::mutex mu_;
  unsigned long changes_ = 0;

 private:
  // Writes the whole file and flushes it to the disk, so that the rename
  // never puts an empty or partial hive in place after a power loss. A hive
  // holds the sync account's password: only its owner may read it.
  static bool WriteDurably(const std::string& file, const std::string& bytes) {
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (fchmod(fd, 0600) != 0) {
      close(fd);
      return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    bool ok = done == bytes.size() && fsync(fd) == 0;
    return close(fd) == 0 && ok;
  }

  // Makes the rename itself durable.
  static void SyncFolder(const std::string& file) {
    int fd = open(std::filesystem::path(file).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
  }

  // Removes the temporary files of writers that were killed before their
  // rename. Writers only write under the lock this one holds, so every
  // temporary file of this hive that exists now is such a leftover.
  static void RemoveLeftovers(const std::string& file) {
    std::filesystem::path hive(file);
    std::string prefix = hive.filename().string() + ".tmp.";
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(hive.parent_path(), ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      std::string name = it->path().filename().string();
      if (name.compare(0, prefix.size(), prefix) == 0) {
        std::error_code ignored;
        std::filesystem::remove(it->path(), ignored);
      }
    }
  }

  static void WriteValues(std::ostream& out, const Key* k) {
    for (const auto& [lower, v] : k->values) {
      out << "\"" << EscapeText(ToUtf8(v.name)) << "\"=";
      std::u16string text;
      if (v.type == REG_SZ && SzText(v, text)) {
        out << "sz:\"" << EscapeText(ToUtf8(text)) << "\"\n";
      } else if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD d;
        memcpy(&d, v.data.data(), 4);
        char buf[16];
        snprintf(buf, sizeof buf, "%08x", d);
        out << "dword:" << buf << "\n";
      } else {
        out << "hex(" << v.type << "):";
        for (size_t i = 0; i < v.data.size(); ++i) {
          char buf[4];
          snprintf(buf, sizeof buf, "%02x", uint8_t(v.data[i]));
          out << (i ? "," : "") << buf;
        }
        out << "\n";
      }
    }
  }

  // Writes the keys below the root as lines of their full path, each
  // followed by the key's values, parents before their subkeys. A key's
  // line is written only where the file needs it: for a key with values,
  // and for one without subkeys (so that an empty key is kept); a key
  // whose subkeys are written is made again from their paths when read.
  // Every line of a path thus carries its own values or keeps an empty
  // key, and the file grows with what the hive holds rather than with the
  // depth of its keys times their number. The root's own values (set on
  // the hive's handle) go under the empty path "[]". Walked with a stack of
  // its own, not by recursion, and keys deeper than the limit (none can be
  // made or read) are left out.
  static void Write(std::ostream& out, const Key* root) {
    if (!root->values.empty()) {
      out << "[]\n";
      WriteValues(out, root);
    }
    struct Level {
      std::map<std::u16string, std::unique_ptr<Key>>::const_iterator next, end;
      size_t pathLength;  // of the parent's path in `path`
    };
    std::vector<Level> stack;
    std::string path;
    stack.push_back({root->subkeys.begin(), root->subkeys.end(), 0});
    while (!stack.empty()) {
      Level& level = stack.back();
      if (level.next == level.end) {
        stack.pop_back();
        continue;
      }
      const Key* k = (level.next++)->second.get();
      path.resize(level.pathLength);
      if (!path.empty()) path += '\\';
      path += ToUtf8(k->name);
      const bool descend = stack.size() < kMaxKeyDepth && !k->subkeys.empty();
      if (!k->values.empty() || !descend) {
        out << "[" << path << "]\n";
        WriteValues(out, k);
      }
      if (descend) stack.push_back({k->subkeys.begin(), k->subkeys.end(), path.size()});
    }
  }

  void Parse(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    Key* current = nullptr;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        size_t end = line.rfind(']');
        if (end == std::string::npos) {
          current = nullptr;
          continue;
        }
        // A key deeper than the limit, or with a name longer than a key's
        // name may be or holding a NUL, is left out with its values; the
        // rest of the hive is kept.
        std::vector<std::u16string> parts = SplitKeyPath(FromUtf8(line.substr(1, end - 1)));
        bool created;
        current = parts.size() <= kMaxKeyDepth && NamesFit(parts) ? Create(parts, &created) : nullptr;
        continue;
      }
      if (!current || line[0] != '"') continue;
      size_t i = 0;
      std::string name;
      if (!ReadQuoted(line, i, name) || i >= line.size() || line[i] != '=') continue;
      ++i;
      Value v;
      v.name = FromUtf8(name);
      std::string rest = line.substr(i);
      if (rest.rfind("sz:", 0) == 0) {
        size_t j = 3;
        std::string text;
        if (!ReadQuoted(rest, j, text)) continue;
        v.type = REG_SZ;
        v.data = WideBytes(FromUtf8(text));
      } else if (rest.rfind("dword:", 0) == 0) {
        DWORD d = DWORD(strtoul(rest.c_str() + 6, nullptr, 16));
        v.type = REG_DWORD;
        v.data.assign(reinterpret_cast<const char*>(&d), 4);
      } else if (rest.rfind("hex(", 0) == 0) {
        size_t close = rest.find("):");
        if (close == std::string::npos) continue;
        v.type = DWORD(strtoul(rest.c_str() + 4, nullptr, 10));
        std::string bytes = rest.substr(close + 2);
        for (size_t k = 0; k + 1 < bytes.size() + 1 && k < bytes.size(); k += 3) {
          v.data.push_back(char(strtoul(bytes.substr(k, 2).c_str(), nullptr, 16)));
        }
      } else {
        continue;
      }
      current->values[Lower(v.name)] = std::move(v);
    }
  }

  const char* file_;
  std::string loadedPath_;
  Identity identity_;
  std::unique_ptr<Key> root_ = std::make_unique<Key>();
};

Hive& CurrentUser() {
  static Hive* hive = new Hive("HKCU.reg");
  return *hive;
}

Hive& LocalMachine() {
  static Hive* hive = new Hive("HKLM.reg");
  return *hive;
}

class KeyObject : public KernelObject {
 public:
  KeyObject(Hive* h, std::vector<std::u16string> p) : hive(h), parts(std::move(p)) {}
  Hive* hive;
  std::vector<std::u16string> parts;
};

// Resolves a key handle (predefined or opened) to its hive and path.
bool Resolve(HKEY key, Hive** hive, std::vector<std::u16string>* parts) {
  if (key == HKEY_CURRENT_USER) {
    *hive = &CurrentUser();
    parts->clear();
    return true;
  }
  if (key == HKEY_LOCAL_MACHINE) {
    *hive = &LocalMachine();
    parts->clear();
    return true;
  }
  auto obj = LookupHandleAs<KeyObject>(reinterpret_cast<HANDLE>(key));
  if (!obj) return false;
  *hive = obj->hive;
  *parts = obj->parts;
  return true;
}

void Append(std::vector<std::u16string>& parts, LPCWSTR subKey) {
  if (!subKey) return;
  for (auto& p : SplitKeyPath(subKey)) parts.push_back(p);
}

// Runs a read of an existing key under the hive's lock, with the hive
// brought up to date first.
template <class F>
LONG ReadKey(HKEY key, F&& read) {
  Hive* hive;
  std::vector<std::u16string> parts;
  if (!Resolve(key, &hive, &parts)) return ERROR_INVALID_HANDLE;
  std::lock_guard<std::mutex> g(hive->mu_);
  hive->Refresh();
  Key* k = hive->Find(parts);
  if (!k) return ERROR_FILE_NOT_FOUND;
  return read(*k);
}

// Copies a name for the enumerations, or asks for a larger buffer.
LONG CopyName(const std::u16string& n, LPWSTR name, LPDWORD nameLen) {
  if (*nameLen < n.size() + 1) {
    *nameLen = DWORD(n.size() + 1);
    return ERROR_MORE_DATA;
  }
  memcpy(name, n.c_str(), (n.size() + 1) * sizeof(char16_t));
  *nameLen = DWORD(n.size());
  return ERROR_SUCCESS;
}

}  // namespace

unsigned long RegistryChangeStamp() {
  // Changes whenever a hive file was replaced by any process.
  unsigned long stamp = 0;
  for (Hive* h : {&CurrentUser(), &LocalMachine()}) {
    Identity id = Stat(h->Path());
    stamp = stamp * 1000003ul + (unsigned long)id.ino * 31ul + (unsigned long)id.mtimeNs + (unsigned long)id.size;
  }
  return stamp;
}

}  // namespace qk

using qk::Hive;

// The hive and full path of a key handle's subkey.
static LONG ResolveSubKey(HKEY key, LPCWSTR subKey, PHKEY result, Hive** hive, std::vector<std::u16string>* parts) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (!qk::Resolve(key, hive, parts)) return ERROR_INVALID_HANDLE;
  qk::Append(*parts, subKey);
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
  Hive* hive;
  std::vector<std::u16string> parts;
  if (LONG r = ResolveSubKey(key, subKey, result, &hive, &parts); r != ERROR_SUCCESS) return r;
  std::lock_guard<std::mutex> g(hive->mu_);
  hive->Refresh();
  if (!hive->Find(parts)) return ERROR_FILE_NOT_FOUND;
  *result = reinterpret_cast<HKEY>(qk::RegisterHandle(std::make_shared<qk::KeyObject>(hive, parts)));
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY result,
                     LPDWORD disposition) {
  Hive* hive;
  std::vector<std::u16string> parts;
  if (LONG r = ResolveSubKey(key, subKey, result, &hive, &parts); r != ERROR_SUCCESS) return r;
  if (parts.size() > qk::kMaxKeyDepth) return ERROR_BADKEY;
  if (!qk::NamesWritable(parts)) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> g(hive->mu_);
  bool created = false;
  hive->Refresh();
  if (hive->Find(parts)) {
    created = false;
  } else {
    LONG r = hive->Change([&]() {
      hive->Create(parts, &created);
      return LONG(ERROR_SUCCESS);
    });
    if (r != ERROR_SUCCESS) return r;
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = reinterpret_cast<HKEY>(qk::RegisterHandle(std::make_shared<qk::KeyObject>(hive, parts)));
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
  return qk::ReadKey(key, [&](qk::Key& k) -> LONG {
    auto it = k.values.find(qk::Lower(valueName ? valueName : u""));
    if (it == k.values.end()) return ERROR_FILE_NOT_FOUND;
    const qk::Value& v = it->second;
    if (type) *type = v.type;
    if (!data) {
      if (size) *size = DWORD(v.data.size());
      return ERROR_SUCCESS;
    }
    if (!size) return ERROR_INVALID_PARAMETER;
    if (*size < v.data.size()) {
      *size = DWORD(v.data.size());
      return ERROR_MORE_DATA;
    }
    memcpy(data, v.data.data(), v.data.size());
    *size = DWORD(v.data.size());
    return ERROR_SUCCESS;
  });
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
  Hive* hive;
  std::vector<std::u16string> parts;
  if (!qk::Resolve(key, &hive, &parts)) return ERROR_INVALID_HANDLE;
  if (!data && size) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> g(hive->mu_);
  return hive->Change([&]() -> LONG {
    qk::Key* k = hive->Find(parts);
    if (!k) return ERROR_FILE_NOT_FOUND;  // deleted by another process meanwhile
    qk::Value v;
    v.name = valueName ? valueName : u"";
    v.type = type;
    v.data.assign(reinterpret_cast<const char*>(data), size);
    // The same value again (a setting written at every start) leaves the
    // file as it is: no rewrite, no flush to the disk.
    auto same = k->values.find(qk::Lower(v.name));
    if (same != k->values.end() && same->second.name == v.name && same->second.type == v.type &&
        same->second.data == v.data)
      return Hive::kUnchanged;
    k->values[qk::Lower(v.name)] = std::move(v);
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
  Hive* hive;
  std::vector<std::u16string> parts;
  if (!qk::Resolve(key, &hive, &parts)) return ERROR_INVALID_HANDLE;
  std::lock_guard<std::mutex> g(hive->mu_);
  return hive->Change([&]() -> LONG {
    qk::Key* k = hive->Find(parts);
    if (!k) return ERROR_FILE_NOT_FOUND;
    return k->values.erase(qk::Lower(valueName ? valueName : u"")) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  Hive* hive;
  std::vector<std::u16string> parts;
  if (!qk::Resolve(key, &hive, &parts)) return ERROR_INVALID_HANDLE;
  qk::Append(parts, subKey);
  if (parts.empty()) return ERROR_ACCESS_DENIED;
  std::lock_guard<std::mutex> g(hive->mu_);
  return hive->Change([&]() -> LONG {
    std::vector<std::u16string> parent(parts.begin(), parts.end() - 1);
    qk::Key* k = hive->Find(parent);
    if (!k) return ERROR_FILE_NOT_FOUND;
    return k->subkeys.erase(qk::Lower(parts.back())) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLen, LPDWORD, LPWSTR, LPDWORD, LPFILETIME) {
  if (!name || !nameLen) return ERROR_INVALID_PARAMETER;
  return qk::ReadKey(key, [&](qk::Key& k) -> LONG {
    if (index >= k.subkeys.size()) return ERROR_NO_MORE_ITEMS;
    auto it = k.subkeys.begin();
    std::advance(it, index);
    return qk::CopyName(it->second->name, name, nameLen);
  });
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLen, LPDWORD, LPDWORD type, LPBYTE data,
                   LPDWORD dataLen) {
  if (!name || !nameLen) return ERROR_INVALID_PARAMETER;
  return qk::ReadKey(key, [&](qk::Key& k) -> LONG {
    if (index >= k.values.size()) return ERROR_NO_MORE_ITEMS;
    auto it = k.values.begin();
    std::advance(it, index);
    const qk::Value& v = it->second;
    LONG r = qk::CopyName(v.name, name, nameLen);
    if (r != ERROR_SUCCESS) return r;
    if (type) *type = v.type;
    if (dataLen) {
      if (data) {
        if (*dataLen < v.data.size()) {
          *dataLen = DWORD(v.data.size());
          return ERROR_MORE_DATA;
        }
        memcpy(data, v.data.data(), v.data.size());
      }
      *dataLen = DWORD(v.data.size());
    }
    return ERROR_SUCCESS;
  });
}

LONG RegFlushKey(HKEY) { return ERROR_SUCCESS; }

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
  return qk::ReleaseHandle(reinterpret_cast<HANDLE>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
