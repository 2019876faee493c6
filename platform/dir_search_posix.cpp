#include "platform/dir_search.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

// Windows wildcard rules, as its directory search applies them to the name part of a pattern:
//   '?'  matches one character other than a dot. Where the name has a dot, or has ended, a '?'
//        matches nothing instead, and so do the '?'s that follow it; thus shot_????.dpx lists
//        shot_12.dpx beside shot_0012.dpx, and ab? lists ab. A '?' never swallows a dot, so
//        shot_????.dpx does not list shot_1.2.dpx.
//   '*'  matches any run of characters, dots included, or none.
//   Letters A-Z and a-z match either case; every other byte only itself (no [sets], no escapes).
// Short 8.3 aliases, non-ASCII case folding and the special "*." forms are left out: the
// viewer's own patterns never need them. Live positions keep the cost at pattern times name.
struct PlatformSearchHandle {
  DIR* Folder = nullptr;
  std::string Pattern;
  std::vector<char> Live;  // Live[i]: the name so far can be matched by Pattern[0, i)

  ~PlatformSearchHandle() {
    if (Folder != nullptr) closedir(Folder);
  }
};

static char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// Follows the moves that consume no character, given the character the name goes on with
// ('\0' at its end). They only go forward, so one pass from the left catches chains of them.
static void FollowEmptyMatches(const std::string& pattern, std::vector<char>& live, char next) {
  const bool questionMayBeEmpty = next == '.' || next == '\0';
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (live[i] && (pattern[i] == '*' || (pattern[i] == '?' && questionMayBeEmpty))) {
      live[i + 1] = 1;
    }
  }
}

static bool MatchName(const std::string& pattern, std::vector<char>& live, const char* name) {
  const size_t end = pattern.size();
  std::fill(live.begin(), live.end(), 0);
  live[0] = 1;
  FollowEmptyMatches(pattern, live, name[0]);
  for (const char* c = name; *c != '\0'; ++c) {
    // From the right, so that a position advanced into is not stepped again for this character.
    live[end] = 0;
    bool any = false;
    for (size_t i = end; i-- > 0;) {
      if (!live[i]) continue;
      const char p = pattern[i];
      const bool advances = p == '?' ? *c != '.' : p != '*' && UpperAscii(p) == UpperAscii(*c);
      live[i] = p == '*';
      if (advances) live[i + 1] = 1;
      any = any || live[i] || advances;
    }
    if (!any) return false;
    FollowEmptyMatches(pattern, live, c[1]);
  }
  return live[end] != 0;
}

static bool IsDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Only regular files can be frames: a folder named like one (a copy or render tool may leave
// one) is passed over. A link counts as what it leads to; a type the folder does not record is
// asked of the file itself.
static bool IsRegularFile(DIR* folder, const dirent* entry) {
  if (entry->d_type == DT_REG) return true;
  if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return false;
  struct stat status;
  return fstatat(dirfd(folder), entry->d_name, &status, 0) == 0 && S_ISREG(status.st_mode);
}

bool PlatformFindNext(PlatformSearch search, char* name) {
  while (const dirent* entry = readdir(search->Folder)) {
    const size_t length = std::strlen(entry->d_name);
    // A name that cannot be handed over whole is no use to the caller: pass it over.
    if (IsDotEntry(entry->d_name) || length >= size_t(kPlatformNameSize)) continue;
    if (!MatchName(search->Pattern, search->Live, entry->d_name)) continue;
    if (!IsRegularFile(search->Folder, entry)) continue;
    std::memcpy(name, entry->d_name, length + 1);
    return true;
  }
  return false;
}

PlatformSearch PlatformFindFirst(const char* pattern, char* name) {
  const char* cut = nullptr;
  for (const char* c = pattern; *c != '\0'; ++c) {
    if (*c == '/' || *c == '\\') cut = c;
  }
  std::string folder = ".";
  if (cut == pattern) folder = "/";
  if (cut > pattern) folder.assign(pattern, cut);

  auto* search = new (std::nothrow) PlatformSearchHandle;
  if (search == nullptr) return nullptr;
  search->Pattern = cut != nullptr ? cut + 1 : pattern;
  search->Live.assign(search->Pattern.size() + 1, 0);
  search->Folder = opendir(folder.c_str());
  if (search->Folder == nullptr || !PlatformFindNext(search, name)) {
    delete search;
    return nullptr;
  }
  return search;
}

void (*PlatformSearchClosedHook)() = nullptr;

void PlatformFindClose(PlatformSearch search) {
  delete search;
  if (PlatformSearchClosedHook != nullptr) PlatformSearchClosedHook();
}
