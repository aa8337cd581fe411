// A pseudo-terminal that stands in for a serial line: the simulator keeps
// the master side, the driver opens the slave by its path.
#ifndef R2600SIM_PTY_H
#define R2600SIM_PTY_H

#include <string>

namespace r2600sim {

class Pty {
 public:
  Pty() = default;
  ~Pty();
  Pty(Pty&& other) noexcept;
  Pty& operator=(Pty&& other) noexcept;
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  // Opens a new pair: master non-blocking, slave raw. The slave stays open
  // here too, so the line keeps its settings and the master never sees a
  // hang-up while the driver closes and reopens its side.
  bool Open(std::string* error);
  void Close();

  bool IsOpen() const { return master_ >= 0; }
  int master() const { return master_; }
  // e.g. /dev/pts/3
  const std::string& path() const { return path_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// A symbolic link to the slave path, removed again when destroyed (unless
// someone else has replaced it meanwhile).
class PtyLink {
 public:
  PtyLink() = default;
  ~PtyLink();
  PtyLink(const PtyLink&) = delete;
  PtyLink& operator=(const PtyLink&) = delete;

  // Refuses to replace anything but a symbolic link (a stale one from an
  // earlier run, say).
  bool Create(const std::string& link, const std::string& target,
              std::string* error);
  void Remove();
  const std::string& path() const { return link_; }

 private:
  std::string link_;
  std::string target_;
};

}  // namespace r2600sim

#endif  // R2600SIM_PTY_H
