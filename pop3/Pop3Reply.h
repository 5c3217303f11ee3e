#pragma once
// The POP3 reply record: "+OK", "-ERR", "+" and the bracketed response codes that some servers
// put after "-ERR".

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "transport/ReplyRecord.h"

class TIdReplyPOP3 : public TIdReply {
public:
    // Index order is what ReplyCodeIndex returns.
    static constexpr std::array<std::u16string_view, 3> Pop3ReplyCodes{u"+OK", u"-ERR", u"+"};
    // Response codes of RFC 2449 and RFC 3206, without their brackets.
    static constexpr std::array<std::u16string_view, 5> Pop3EnhancedCodes{u"IN-USE", u"LOGIN-DELAY",
                                                                          u"SYS/PERM", u"SYS/TEMP", u"AUTH"};

    // A new record holds Code "+OK", no text and no enhanced code.
    TIdReplyPOP3();

    // The bracketed response code of the last "-ERR" reply that carried one (or an empty one).
    const std::u16string& EnhancedCode() const { return enhancedCode_; }
    // Empty clears it; otherwise the value is upper-cased and bracketed and must then be a known
    // response code, else EIdPOP3ReplyInvalidEnhancedCode "Invalid Enhanced Code: <value>".
    void SetEnhancedCode(const std::u16string& value);

    // "+OK", "-ERR" or "+" in either letter case, or a code that is blank.
    bool IsAcceptableReplyCode(std::u16string_view code) const override;
    // Sets Code from the first line's code, Text from each line's text; on "-ERR" a leading
    // response code such as "[AUTH]" moves from the text into EnhancedCode. A reply in which no
    // line carries a known code ends as "-ERR" without text.
    void ParseReplyLines(const std::vector<std::u16string>& lines) override;
    // A line whose code is followed by "-" continues the reply; every other line ends it.
    bool IsFinalReplyLine(std::u16string_view line) const override;
    // Raises EIdReplyPOP3Error with FailedReplyCode = Code and the Text lines as message.
    [[noreturn]] void RaiseReplyFailure() const override;

    // 1-based position of the separator (space or "-") after the line's leading code; one past
    // the end of the line when there is none.
    static size_t ReplyCodeEnd(std::u16string_view line);
    // Index of the line's code in Pop3ReplyCodes (letter case ignored), or -1.
    static int ReplyCodeIndex(std::u16string_view line);
    // A blank value, or "[CODE]" with a known response code: exactly (strict) or as a prefix
    // in either letter case (loose).
    static bool IsValidEnhancedCode(std::u16string_view value, bool strict);

private:
    // Text of one raw line after its code and separator.
    static std::u16string TextAfterCode(std::u16string_view line);
    // On an "-ERR" reply, moves a leading response code from the text into EnhancedCode.
    std::u16string TakeEnhancedCode(std::u16string text);

    std::u16string enhancedCode_;
};
