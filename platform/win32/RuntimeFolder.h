// The per-user folder that holds the named-mutex lock files and the window
// sockets of this user's programs.
#pragma once

#include <string>

// The first of these that is a folder of the calling user's own, not a link,
// and writable by no one else: $XDG_RUNTIME_DIR, /run/user/<uid>, and
// $HOME/.cache/zoltupdate (created 0700 when missing). Never a shared folder
// such as /tmp, so no other user can create, hold or replace anything in it.
// Without a trailing "/"; empty when none of them qualifies.
std::string UserRuntimeFolder();

// True when path itself (not a link to it) is a folder owned by the calling
// user that no one else may write into; with privateOnly, one that no one else
// may read or enter either.
bool IsOwnFolder(const std::string& path, bool privateOnly);

// True when path itself (not a link to it) is owned by the calling user.
bool IsOwnEntry(const std::string& path);
