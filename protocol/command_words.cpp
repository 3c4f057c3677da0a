#include "protocol/command_words.h"

#include "protocol/status_queries.h"

#include <QRegularExpression>

#include <array>

namespace orvik {
namespace {

using enum CommandKind;

constexpr CommandWord hold(std::string_view word, const HoldButton& button)
{
    return {word, button.code, Hold, button.kind};
}

constexpr std::array kWords = {
    CommandWord{"power-on", codes::kPowerOn, Operation},
    CommandWord{"power-off", codes::kPowerOff, Operation},
    CommandWord{"input-pc", codes::kInputPc, Operation},
    CommandWord{"input-video", codes::kInputVideo, Operation},
    CommandWord{"audio-mute-on", codes::kAudioMuteOn, Operation},
    CommandWord{"audio-mute-off", codes::kAudioMuteOff, Operation},
    CommandWord{"video-mute-on", codes::kVideoMuteOn, Operation},
    CommandWord{"video-mute-off", codes::kVideoMuteOff, Operation},
    CommandWord{"screen-normal", codes::kScreenNormal, Operation},
    CommandWord{"screen-wide", codes::kScreenWide, Operation},
    CommandWord{"menu-on", codes::kMenuOn, Operation},
    CommandWord{"menu-off", codes::kMenuOff, Operation},
    CommandWord{"freeze-on", codes::kFreezeOn, Operation},
    CommandWord{"freeze-off", codes::kFreezeOff, Operation},
    CommandWord{"a-image", codes::kAImage, Operation},
    CommandWord{"p-timer", codes::kPTimer, Operation},
    CommandWord{"normal", codes::kNormal, Operation},
    CommandWord{"display-clear", codes::kDisplayClear, Operation},
    CommandWord{"c01", codes::kC01, Operation},
    hold("vol-up", holds::kVolUp),
    hold("vol-down", holds::kVolDown),
    hold("bright-up", holds::kBrightUp),
    hold("bright-down", holds::kBrightDown),
    hold("zoom-up", holds::kZoomUp),
    hold("zoom-down", holds::kZoomDown),
    hold("keystone-up", holds::kKeystoneUp),
    hold("keystone-down", holds::kKeystoneDown),
    hold("up", holds::kUp),
    hold("down", holds::kDown),
    hold("left", holds::kLeft),
    hold("right", holds::kRight),
    hold("select", holds::kSelect),
    CommandWord{"status", codes::kStatus, Query},
    CommandWord{"mode", codes::kMode, Query},
    CommandWord{"l-time", codes::kLampTime, Query},
    CommandWord{"setting", codes::kSetting, Query},
};

QString toQString(std::string_view text) { return QString::fromLatin1(text.data(), qsizetype(text.size())); }

Command commandFor(const QString& text, const QString& code, CommandKind kind)
{
    Command command;
    command.text = text;
    command.frame = code + QChar(13);
    command.kind = kind;
    command.query = queryOfFrame(command.frame);
    return command;
}

} // namespace

std::span<const CommandWord> commandWords() { return kWords; }

QStringList commandWordList()
{
    QStringList words;
    for (const CommandWord& word : kWords)
        words.append(toQString(word.word));
    return words;
}

std::variant<Command, QString> parseCommand(const QString& text)
{
    static const QRegularExpression rawCode(QStringLiteral("^(C[0-9A-F]{2}|CR[0-9])$"));
    if (text.startsWith(QLatin1String("raw:"))) {
        const QString code = text.mid(4);
        if (!rawCode.match(code).hasMatch())
            return QStringLiteral("'%1': a raw code is C and two upper-case hex digits (C1E) or CR and a digit (CR0)")
                .arg(text);
        return commandFor(text, code, code.startsWith(QLatin1String("CR")) ? Query : Operation);
    }
    const qsizetype colon = text.indexOf(u':');
    const QString word = colon < 0 ? text : text.left(colon);
    for (const CommandWord& entry : kWords) {
        if (word != toQString(entry.word))
            continue;
        Command command = commandFor(text, toQString(entry.code), entry.kind);
        if (colon < 0)
            return command;
        bool number = false;
        const int steps = text.mid(colon + 1).toInt(&number);
        if (entry.kind != Hold)
            return QStringLiteral("'%1': only the hold commands (vol-up, up, select...) take :N").arg(text);
        if (!number || steps < 1 || steps > kMaxSteps)
            return QStringLiteral("'%1': N in %2:N is a number of steps from 1 to %3").arg(text, word).arg(kMaxSteps);
        command.steps = steps;
        command.period = repeatPeriod(entry.hold);
        return command;
    }
    return QStringLiteral("unknown command '%1'; the commands are: %2, NAME:N for N steps of a hold, raw:CODE")
        .arg(text, commandWordList().join(QStringLiteral(", ")));
}

} // namespace orvik
