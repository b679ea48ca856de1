// Staged rollouts: a release whose manifest says "ROLLOUT=<p>" in its
// "Version" section reaches about p percent of the installations first.
//
// Every installation keeps a random id of its own and falls, for each release,
// into one of 100 buckets made from that id and the release's version text; it
// takes the release only when its bucket is below p. Raising p keeps everyone
// already inside and adds more; a new release draws a new first share. The
// decision is made on the machine: the id is never sent anywhere, so no
// request changes and no server can tell installations apart.
#pragma once

#include <string>
#include <string_view>

class CConfigFile;

// What a versioned manifest's "Version" section says about who takes it.
struct RolloutOffer {
  std::string version;    // "VERSION"
  std::string region;     // "REGION"
  int unconditional = 0;  // "UNCONDITIONALUPDATE"
  std::string rollout;    // "ROLLOUT" as written; empty: every installation
};

RolloutOffer ReadRolloutOffer(CConfigFile& manifest);

// The id's file below the application directory, beside the other kept state.
inline constexpr const char* kInstallationIdPath = "UPDATE.kept\\installation-id";
inline constexpr std::size_t kInstallationIdBytes = 16;

// The installation's id, kInstallationIdBytes raw bytes, kept in appPath +
// kInstallationIdPath as lowercase hexadecimal digits and a line break. Made
// from the system's random source the first time, and made anew when the file
// is damaged, not the user's own regular file, or reached through a link: a
// planted id would let someone else pick this machine's place in every
// rollout. Empty, with cause, when no id can be made or kept.
std::string InstallationId(const std::string& appPath, std::string& cause);

// The bucket 0..99 of an installation for a release: the SHA-256 digest of the
// id's bytes followed by the version text, read as one big-endian number,
// modulo 100. Installations in the field depend on it staying exactly this.
int RolloutBucket(std::string_view id, std::string_view version);

// True when this installation is to wait for a staged release: the offer is a
// newer version of the installation's own region, not unconditional, with a
// ROLLOUT below 100 that the installation's bucket is not inside. A region
// change and an unconditional release are the operator's explicit orders and
// are never held back; an offer without ROLLOUT is taken by everyone. A
// ROLLOUT that is not a whole number from 0 to 100, or an installation that
// cannot keep an id, waits until the release reaches everyone (said on stderr).
// With undecided given, an installation that cannot keep an id is not said
// on stderr but handed back there: the caller fails the run, since no later
// run could place it either. The decision goes to the run log with the
// bucket and the share.
bool HeldBackByRollout(const RolloutOffer& offer, const std::string& localVersion, const std::string& region,
                       const std::string& appPath, std::string* undecided = nullptr);

// The same for the versioned manifest at manifestPath.
bool HeldBackByRollout(const std::string& manifestPath, const std::string& localVersion, const std::string& region,
                       const std::string& appPath);
