#pragma once
// The reply record of the command and reply exchange: the code a server answered with and the
// text of each line of its reply. A protocol derives its own record that knows how its server
// writes replies.

#include <string>
#include <string_view>
#include <vector>

class TIdReply {
public:
    TIdReply() = default;
    virtual ~TIdReply() = default;

    const std::u16string& Code() const { return code_; }
    // Assigning the current value does nothing. Any other value must pass IsAcceptableReplyCode
    // (else EIdException "Reply Code is not valid: %s"); the record is then cleared, so a new
    // code always comes with an empty Text.
    void SetCode(const std::u16string& code);

    // One entry per raw line of the reply: what follows the code and its separator.
    const std::vector<std::u16string>& Text() const { return text_; }
    void SetText(std::vector<std::u16string> text) { text_ = std::move(text); }

    // Empties Text and Code.
    virtual void Clear();
    virtual bool IsAcceptableReplyCode(std::u16string_view code) const;
    // Fills the record from the raw (already trimmed) lines of one reply.
    virtual void ParseReplyLines(const std::vector<std::u16string>& lines) = 0;
    // Whether this raw line is the last line of its reply.
    virtual bool IsFinalReplyLine(std::u16string_view line) const;
    // Raises EIdReplyError with the Text lines, each followed by CR LF, as message.
    [[noreturn]] virtual void RaiseReplyFailure() const;

protected:
    // The Text lines, each followed by CR LF: the message of a reply failure.
    std::u16string TextAsMessage() const;
    void AppendText(std::u16string line) { text_.push_back(std::move(line)); }

private:
    std::u16string code_;
    std::vector<std::u16string> text_;
};
