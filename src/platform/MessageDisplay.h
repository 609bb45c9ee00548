#pragma once
// Modal message boxes. The programs show real boxes; tests install a
// recording display that answers as told.
//
// A box with the stop icon reports an error. Whatever display is in force,
// its text is first written to the standard error stream as one line,
// "<application name>: <text>", so a program run without anyone to click
// the box (headless, under a service manager) still says what went wrong.
// Line breaks in the text become blanks and other control characters are
// written as \xHH, so one error is always one line.

#include <QList>
#include <QString>

namespace velkaro::platform {

enum class MessageIcon { None, Stop, Warning, Information, Question };
enum class MessageButtons { Ok, YesNo, OkCancel };
enum class MessageResult { Ok, Cancel, Yes, No };

class MessageDisplay {
public:
    virtual ~MessageDisplay() = default;
    virtual MessageResult Show(const QString& caption, const QString& text, MessageIcon icon, MessageButtons buttons)
        = 0;
};

// The display in force: a real modal box unless one was installed. Errors
// (the stop icon) also go to the standard error stream, as above.
MessageDisplay& Messages();
// Installs a display (not owned); null restores the real one.
void SetMessageDisplay(MessageDisplay* display);

// The caption boxes carry by default: the application's title.
QString ApplicationTitle();

// The line an error box writes to the standard error stream, without the
// line end: "<application name>: <text>" (the text alone without a name).
QString ErrorLine(const QString& text);

class RecordingMessageDisplay : public MessageDisplay {
public:
    struct Entry {
        QString caption;
        QString text;
        MessageIcon icon;
        MessageButtons buttons;
    };
    MessageResult Show(const QString& caption, const QString& text, MessageIcon icon, MessageButtons buttons) override
    {
        shown.append({caption, text, icon, buttons});
        return answer;
    }
    QList<Entry> shown;
    MessageResult answer = MessageResult::Ok;
};

// Installs a display for the lifetime of the guard.
class ScopedMessageDisplay {
public:
    explicit ScopedMessageDisplay(MessageDisplay& display) { SetMessageDisplay(&display); }
    ~ScopedMessageDisplay() { SetMessageDisplay(nullptr); }
    ScopedMessageDisplay(const ScopedMessageDisplay&) = delete;
    ScopedMessageDisplay& operator=(const ScopedMessageDisplay&) = delete;
};

} // namespace velkaro::platform
