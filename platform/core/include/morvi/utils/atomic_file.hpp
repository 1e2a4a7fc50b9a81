#pragma once
// Files replaced whole or not at all. The bytes go to a temporary file beside the target,
// named "<target>.tmp.<pid>.<n>", which is synced and renamed over the target; the folder is
// synced after the rename. A reader, a killed writer or a full disk never leaves half a file
// at the target's name: it holds the old content or the new. Temporary files that an earlier,
// killed writer left beside the target are removed when the next one starts.
#include <cstdio>
#include <string>
#include <string_view>

#pragma GCC visibility push(default)
namespace morvi::utils {

// What a target that is a symbolic link means.
enum class LinkTarget {
  follow,   // the file the link points to is replaced; the link stays
  replace,  // the link itself is replaced by the new file; what it pointed to is untouched
};

// One replacement in progress. Bytes are written through stream() or write(); commit()
// puts them in place. Destroyed without a commit, it removes its temporary file.
class AtomicFile {
 public:
  // Creates the temporary file. A new file gets the permissions the umask leaves of 0666, a
  // replaced one keeps its permissions. std::system_error naming the file when it cannot be
  // created.
  explicit AtomicFile(const std::string& path, LinkTarget links = LinkTarget::follow);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // std::system_error naming the file on failure.
  void write(std::string_view bytes);
  // For writers that stream through stdio; valid until close() or commit().
  std::FILE* stream() const noexcept { return stream_; }
  // Syncs and closes the temporary file, which commit() then only renames: a writer of many
  // files can finish each in turn and put them all in place at the end without holding a
  // descriptor per file. std::system_error naming the file on failure; the temporary file is
  // removed then.
  void close();
  // Syncs (unless closed), renames over the target and syncs the folder. std::system_error
  // naming the file on failure; the temporary file is removed then and the target left as it
  // was.
  void commit();

  // The file that is replaced: the path given, or where its links lead.
  const std::string& target() const noexcept { return target_; }
  const std::string& temporary() const noexcept { return temporary_; }

 private:
  void discard() noexcept;

  std::string path_;
  std::string target_;
  std::string temporary_;
  std::FILE* stream_ = nullptr;
  bool closed_ = false;  // the temporary file is complete and waits for commit()
};

// Replaces `path` with `content` through an AtomicFile.
void write_file_atomically(const std::string& path, std::string_view content,
                           LinkTarget links = LinkTarget::follow);

}  // namespace morvi::utils
#pragma GCC visibility pop
