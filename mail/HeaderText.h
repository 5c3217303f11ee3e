#pragma once
// Header fields of a mail message as a person reads them: folded lines joined, encoded words
// (=?charset?B?...?= and =?charset?Q?...?=) decoded, and characters that could disturb the
// display (control characters, bidirectional overrides) removed. Any input gives a defined
// result in time linear in its length; nothing raises.

#include <string>
#include <string_view>

// The value of the first field called `name` (letter case ignored) in a block of header lines,
// unfolded and trimmed, as the bytes stand; empty when the block has no such field. The block
// ends at its first empty line.
std::string HeaderFieldValue(std::string_view header, std::string_view name);

// A field value as text: unfolded, encoded words decoded (adjacent ones joined, so a character
// split across two words survives; a malformed word or one in an unknown charset stays as it
// stands), other bytes read as UTF-8, or as Windows-1252 where they are no valid UTF-8; control
// characters and bidirectional overrides removed, runs of blanks made one, ends trimmed.
std::u16string DecodeHeaderText(std::string_view value);

// Who sent a message, from the value of its From field: the first mailbox's display name,
// decoded, or its address when it has none.
std::u16string SenderOfFrom(std::string_view value);
