// ScopedHome: a fresh folder under /tmp as HOME while it lives, so that parameter files and the
// configuration folder land there; HOME is restored (or unset again) and the folder removed
// when it goes. When no folder can be made, HOME is left alone and nothing is removed.
#pragma once

#include <string>

namespace qvsim {

class ScopedHome {
  public:
    ScopedHome();
    ~ScopedHome();
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

    bool Made() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }
    std::string ConfigDir() const { return m_path + "/.QVConfig/"; }

  private:
    std::string m_path;  // empty when no folder was made
    std::string m_old;
    bool m_hadOld = false;
};

}  // namespace qvsim
