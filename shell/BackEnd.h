#pragma once
// What each desktop back-end (qt/, win32/) provides to the shell's shared sources, beyond the
// members of the shell's classes.

#include <functional>
#include <string_view>

class TForm;

// The desktop's own modal information box: the information icon, the message and an OK button.
void ShowSystemInformationBox(TForm* owner, std::u16string_view message, std::u16string_view caption);

// Plays a WAV file through the desktop's sound service; silent when none can play it.
void PlaySoundThroughSystem(std::u16string_view path, bool async);

// Readies CallOnUserInterfaceThread; called on the user-interface thread before the first use.
void PrepareUserInterfaceCalls();
// From any thread: runs call on the user-interface thread, from its message loop. A call that
// cannot be delivered any more (the loop is gone) is dropped.
void CallOnUserInterfaceThread(std::function<void()> call);
