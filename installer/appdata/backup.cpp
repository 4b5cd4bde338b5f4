// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/appdata/backup.h"

namespace pellora {
void export_appdata_locations() { throw std::logic_error("not built yet"); }
std::string backup_appdata(std::string*) { throw std::logic_error("not built yet"); }
std::string read_env_variable(const std::string&) { throw std::logic_error("not built yet"); }
void copy_folder_from_variable(const std::string&, const std::string&) { throw std::logic_error("not built yet"); }
void shell_copy(const std::string&, const std::string&) { throw std::logic_error("not built yet"); }
}  // namespace pellora
