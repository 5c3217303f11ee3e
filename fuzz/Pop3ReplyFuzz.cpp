// The POP3 reply record against any lines a server may send: it never raises while parsing, the
// code is the first line's (written as in the table) or "-ERR" when no line has one, each text
// is what followed the code on its line, and a refused reply carries exactly the record's code
// and text.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

#include "fuzz/FuzzChecks.h"
#include "pop3/Pop3Errors.h"
#include "pop3/Pop3Reply.h"

namespace {

std::string Lines(const std::vector<std::u16string>& lines) {
    std::string out;
    for (const auto& line : lines)
        out += Quoted(line) + "\n";
    return out;
}

// The reply as the exchange reads it: lines up to the first final one, each trimmed and
// non-blank (the line reader's part), decoded here from UTF-8 to reach every character.
std::vector<std::u16string> ReplyLines(FuzzedDataProvider& input, const TIdReplyPOP3& reply) {
    std::vector<std::u16string> lines;
    while (input.remaining_bytes() > 0 && lines.size() < 64) {
        std::u16string line = TrimControlAndBlanks(Utf8ToText(input.ConsumeRandomLengthString(512)));
        if (line.empty())
            continue;
        const bool final = reply.IsFinalReplyLine(line);
        lines.push_back(std::move(line));
        if (final)
            break;
    }
    return lines;
}

void CheckLineOperations(std::u16string_view line, const TIdReplyPOP3& reply) {
    const size_t end = TIdReplyPOP3::ReplyCodeEnd(line);
    FUZZ_CHECK(end >= 1 && end <= line.size() + 2, Quoted(line));
    const int index = TIdReplyPOP3::ReplyCodeIndex(line);
    FUZZ_CHECK(index >= -1 && index < static_cast<int>(TIdReplyPOP3::Pop3ReplyCodes.size()), Quoted(line));
    // A line continues its reply exactly when "-" follows its code.
    FUZZ_CHECK(reply.IsFinalReplyLine(line) == (end > line.size() || line[end - 1] != u'-'), Quoted(line));
    if (TIdReplyPOP3::IsValidEnhancedCode(line, true))
        FUZZ_CHECK(TIdReplyPOP3::IsValidEnhancedCode(line, false), Quoted(line));
}

void CheckParsedReply(const std::vector<std::u16string>& lines, const TIdReplyPOP3& reply,
                      const std::u16string& enhancedBefore) {
    const bool anyCode = std::any_of(
        lines.begin(), lines.end(), [](const auto& line) { return TIdReplyPOP3::ReplyCodeIndex(line) >= 0; });
    if (lines.empty()) {
        FUZZ_CHECK(reply.Code().empty() && reply.Text().empty(), "no lines");
        return;
    }
    if (!anyCode) {
        FUZZ_CHECK(reply.Code() == u"-ERR" && reply.Text().empty(), Lines(lines));
        return;
    }
    // The first line gives the code; a code on a later line only keeps the text.
    const int first = TIdReplyPOP3::ReplyCodeIndex(lines.front());
    FUZZ_CHECK(first < 0 ? reply.Code().empty() : reply.Code() == TIdReplyPOP3::Pop3ReplyCodes[first],
               Lines(lines) + Quoted(reply.Code()));
    FUZZ_CHECK(reply.Text().size() == lines.size(), Lines(lines));
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::u16string& text = reply.Text()[i];
        FUZZ_CHECK(text.size() < lines[i].size() && lines[i].ends_with(text), Lines(lines) + Quoted(text));
    }
    if (reply.Code() != u"-ERR")
        FUZZ_CHECK(reply.EnhancedCode() == enhancedBefore, Lines(lines));
    else if (reply.EnhancedCode() != enhancedBefore)
        FUZZ_CHECK(TIdReplyPOP3::IsValidEnhancedCode(reply.EnhancedCode(), false), Lines(lines));
}

void CheckRefusal(const TIdReplyPOP3& reply) {
    std::u16string message;
    for (const auto& text : reply.Text())
        message += text + u"\r\n";
    try {
        reply.RaiseReplyFailure();
    } catch (const EIdReplyPOP3Error& error) {
        FUZZ_CHECK(error.FailedReplyCode() == reply.Code() && error.Message() == message,
                   Quoted(error.Message()));
        return;
    }
}

void CheckEnhancedCodeAssignment(TIdReplyPOP3& reply, const std::u16string& value) {
    try {
        reply.SetEnhancedCode(value);
    } catch (const EIdPOP3ReplyInvalidEnhancedCode& error) {
        FUZZ_CHECK(error.Message() == u"Invalid Enhanced Code: " + value, Quoted(value));
        return;
    }
    FUZZ_CHECK(value.empty() ? reply.EnhancedCode().empty()
                             : TIdReplyPOP3::IsValidEnhancedCode(reply.EnhancedCode(), true),
               Quoted(value) + " gave " + Quoted(reply.EnhancedCode()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    TIdReplyPOP3 reply;
    // Two replies in a row: what the first leaves behind (the enhanced code) must not disturb
    // the second.
    for (int round = 0; round < 2 && input.remaining_bytes() > 0; ++round) {
        const std::vector<std::u16string> lines = ReplyLines(input, reply);
        for (const auto& line : lines)
            CheckLineOperations(line, reply);
        const std::u16string enhancedBefore = reply.EnhancedCode();
        reply.ParseReplyLines(lines);
        CheckParsedReply(lines, reply, enhancedBefore);
        CheckRefusal(reply);
    }
    CheckEnhancedCodeAssignment(reply, Utf8ToText(input.ConsumeRemainingBytesAsString()));
    return 0;
}
