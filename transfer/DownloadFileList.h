// Fetching a list of files into a staging directory in the caller's thread.
#pragma once

#include <string>
#include <vector>

#include "platform/transfer/ZOLTUpdateIntf.h"

// Creates the folder that will hold localPath when it is missing (a failure
// shows in the fetch that follows).
void PrepareLocalDirectory(const std::string& localPath);

// Fetches each name into stagingDir + name, creating its folders first, in
// order; the first failure ends the list (files already fetched stay). True
// when every name was fetched; an empty list is true at once. With digests
// given, it receives the digests of each fetched file (taken while it was
// written), in the order of names.
bool DownloadFileList(const std::string& stagingDir, unsigned updateType, CZOLTUpdateIntf& transfer,
                      const std::vector<std::string>& names, std::vector<FileDigests>* digests = nullptr);

// The same for an owner that has stagingDir, updateType and transfer members
// (the update dialog, the silent-update object).
template <class Owner>
bool DownloadFileList(Owner& owner, const std::vector<std::string>& names,
                      std::vector<FileDigests>* digests = nullptr) {
  return DownloadFileList(owner.stagingDir, static_cast<unsigned>(owner.updateType), *owner.transfer, names, digests);
}
