#pragma once
// Where the default database lives: "mail.db" in the configuration folder of
// the installation this library was loaded from (the loader takes "DB.dll"
// from the installation folder, and that folder's "path.cfg" may move the
// configuration folder elsewhere, as it does for the libraries).
#include <string>
#include <vector>

namespace backend {

// The installation folder: the folder of this library, with a trailing "\".
std::string InstallFolder();

// The connection texts to try for an empty connection setting, in order:
// the SQLite ODBC driver under the names it is registered with.
std::vector<std::string> DefaultConnectionTexts();

// The path as the ODBC driver must see it. Under Wine the drivers are host
// libraries that do not understand drive letters, so the host's path is
// given; on Windows the path as it is.
std::string DriverPath(const std::string& windowsPath);

}  // namespace backend
