#pragma once
// A file system for SQLite that fails the way a read-only or a full file system does, for the
// files under one directory only; every other file (a test's host database) is untouched. It is
// installed as SQLite's default for the life of the object, so code that opens files with
// SQLite's defaults meets it without knowing:
//
//   FaultyVfs disk(dir.path());
//   disk.mode = FaultyVfs::Mode::Full;   // every write under dir now fails with SQLITE_FULL
//
// (Tests run as root here, so file permissions cannot make a file read-only.)

#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace dupsweep::testing {

class FaultyVfs {
 public:
  enum class Mode { Working, ReadOnly, Full };
  Mode mode = Mode::Working;

  explicit FaultyVfs(const std::filesystem::path& dir) : prefix_(dir.string() + "/") {
    real_ = sqlite3_vfs_find(nullptr);
    vfs_ = *real_;
    vfs_.szOsFile = static_cast<int>(sizeof(File)) + real_->szOsFile;
    vfs_.zName = "dupsweep-faulty";
    vfs_.pAppData = this;
    vfs_.xOpen = &FaultyVfs::open;
    sqlite3_vfs_register(&vfs_, 1);
  }
  ~FaultyVfs() {
    sqlite3_vfs_unregister(&vfs_);
    sqlite3_vfs_register(real_, 1);
  }
  FaultyVfs(const FaultyVfs&) = delete;
  FaultyVfs& operator=(const FaultyVfs&) = delete;

 private:
  // The file as SQLite sees it: our methods, then the real file's own structure.
  struct File {
    sqlite3_file base;
    FaultyVfs* owner;
    bool watched;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
  };

  static File* self(sqlite3_file* f) { return reinterpret_cast<File*>(f); }
  bool failsWrites(const File* f) const { return f->watched && mode == Mode::Full; }

  static int open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags,
                  int* outFlags) {
    auto* owner = static_cast<FaultyVfs*>(vfs->pAppData);
    File* f = self(file);
    f->owner = owner;
    f->watched = name && std::string(name).rfind(owner->prefix_, 0) == 0;
    if (f->watched && owner->mode == Mode::ReadOnly &&
        (flags & (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE))) {
      // As on a read-only mount: an existing file opens for reading only, a new one cannot be
      // made.
      if (!std::filesystem::exists(name)) return SQLITE_CANTOPEN;
      flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
    }
    const int rc = owner->real_->xOpen(owner->real_, name, f->real(), flags, outFlags);
    if (rc != SQLITE_OK) {
      f->base.pMethods = nullptr;
      return rc;
    }
    f->base.pMethods = &methods(f->real()->pMethods);
    return SQLITE_OK;
  }

  // The real file's methods with writing replaced; one set per real set (there is one in
  // practice).
  static sqlite3_io_methods& methods(const sqlite3_io_methods* real) {
    static sqlite3_io_methods ours;
    static const sqlite3_io_methods* wrapped = nullptr;
    if (wrapped != real) {
      wrapped = real;
      ours = *real;
      ours.xClose = [](sqlite3_file* f) {
        const int rc = self(f)->real()->pMethods->xClose(self(f)->real());
        return rc;
      };
      ours.xRead = [](sqlite3_file* f, void* p, int n, sqlite3_int64 at) {
        return self(f)->real()->pMethods->xRead(self(f)->real(), p, n, at);
      };
      ours.xWrite = [](sqlite3_file* f, const void* p, int n, sqlite3_int64 at) {
        if (self(f)->owner->failsWrites(self(f))) return SQLITE_FULL;
        return self(f)->real()->pMethods->xWrite(self(f)->real(), p, n, at);
      };
      ours.xTruncate = [](sqlite3_file* f, sqlite3_int64 size) {
        return self(f)->real()->pMethods->xTruncate(self(f)->real(), size);
      };
      ours.xSync = [](sqlite3_file* f, int flags) {
        return self(f)->real()->pMethods->xSync(self(f)->real(), flags);
      };
      ours.xFileSize = [](sqlite3_file* f, sqlite3_int64* size) {
        return self(f)->real()->pMethods->xFileSize(self(f)->real(), size);
      };
      ours.xLock = [](sqlite3_file* f, int lock) {
        return self(f)->real()->pMethods->xLock(self(f)->real(), lock);
      };
      ours.xUnlock = [](sqlite3_file* f, int lock) {
        return self(f)->real()->pMethods->xUnlock(self(f)->real(), lock);
      };
      ours.xCheckReservedLock = [](sqlite3_file* f, int* out) {
        return self(f)->real()->pMethods->xCheckReservedLock(self(f)->real(), out);
      };
      ours.xFileControl = [](sqlite3_file* f, int op, void* arg) {
        return self(f)->real()->pMethods->xFileControl(self(f)->real(), op, arg);
      };
      ours.xSectorSize = [](sqlite3_file* f) {
        return self(f)->real()->pMethods->xSectorSize(self(f)->real());
      };
      ours.xDeviceCharacteristics = [](sqlite3_file* f) {
        return self(f)->real()->pMethods->xDeviceCharacteristics(self(f)->real());
      };
      // Shared memory and memory mapping are not used by journals in rollback mode; the version
      // is lowered so that SQLite does not call them.
      ours.iVersion = 1;
      ours.xShmMap = nullptr;
      ours.xShmLock = nullptr;
      ours.xShmBarrier = nullptr;
      ours.xShmUnmap = nullptr;
      ours.xFetch = nullptr;
      ours.xUnfetch = nullptr;
    }
    return ours;
  }

  std::string prefix_;
  sqlite3_vfs* real_;
  sqlite3_vfs vfs_;
};

}  // namespace dupsweep::testing
