#pragma once
// The notice of new mail: how many messages arrived, and who wrote about what in the newest.

#include <cstdint>
#include <string>
#include <vector>

#include "toolz/Toolz.h"

struct NewMailNoticeText {
    std::u16string summary;
    std::u16string body;
};

// How many of the newest messages the body names.
constexpr int32_t NoticeNamesMost = 3;

// `arrived` messages are new; `headers` are the header blocks of the newest of them, newest
// first. The body names the sender (display name, else address) and subject of up to
// NoticeNamesMost of them, each cut to a readable length, one a line, and how many more
// arrived; without headers it is empty.
NewMailNoticeText ComposeNewMailNotice(int64_t arrived, const std::vector<std::string>& headers,
                                       TUiLanguage language);
