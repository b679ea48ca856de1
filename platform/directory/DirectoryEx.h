// Directory services: the program's own directory, directory creation,
// removal and search. All operations are static; out strings are replaced,
// never appended to.
#pragma once

#include <string>
#include <vector>

class CDirectoryEx {
 public:
  // The directory of the running program, ending with "/". Returns 1, or 0 when
  // it cannot be determined (out is then empty).
  static long GetApplicationPath(std::string& path);

  // Makes GetApplicationPath answer path (with a trailing "/" added when
  // missing) instead of the executable's directory; an empty path restores the
  // real answer. For tests and tools that act on another installation. The
  // folder given also becomes the guarded root of the file calls (Files.h).
  static void OverrideApplicationPath(std::string path);

  // The directory part of a file path, up to and including its last "\" or "/";
  // empty when the path has none. Returns 1, or 0 when there is no directory part.
  static long GetFilePath(std::string path, std::string& directory);

  // Creates directory and every missing parent ("\" or "/" separated, with or
  // without a trailing separator), never through a link below the guarded root
  // (see Files.h), each 0755 whatever the umask. Returns 1 when the directory
  // exists afterwards.
  static long CreateMultipleDirectory(std::string directory);

  // Removes directory with everything in it. A symbolic link met on the way is
  // removed as a link; what it points to is never touched. When directory
  // itself is a link, only the link is removed; a link in a folder above it
  // (below the guarded root) leaves everything in place.
  static void DeleteDirectory(std::string directory);

  // Replaces files with the path of every non-directory entry below directory
  // whose name matches the wildcard pattern ("*" and "?"; a leading "." is not
  // special). With recursive true the search descends into sub-directories, but
  // never through a symbolic link. Paths are directory followed by the
  // "/"-separated path below it, in a stable (sorted) order.
  static void SearchFile(std::string directory, bool recursive, std::string pattern, std::vector<std::string>& files);
};
