#include "pjlink/answers.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <array>
#include <optional>
#include <span>
#include <string_view>

namespace orvik::pjlink {
namespace {

// Where the states' values meet PJLink's.
struct PowerRow {
    std::string_view state;
    char powr;        // 0 standby, 1 on, 2 cooling down, 3 warming up; 0 for a fault
    bool lampOn;      // LAMP's second field
    const char* erst; // fan, lamp, temperature, cover, filter, other
};
constexpr std::array kPowerRows = {
    PowerRow{"on", '1', true, "000000"},
    PowerRow{"key_input_prohibition", '1', true, "000000"},
    PowerRow{"standby", '0', false, "000000"},
    PowerRow{"cooling_down", '2', false, "000000"},
    PowerRow{"count_down", '3', true, "000000"},
    PowerRow{"temperature_abnormality", 0, false, "002000"},
    PowerRow{"power_abnormality", 0, false, "000002"},
};

struct Choice {
    std::string_view parameter;
    std::array<std::string_view, 2> words; // one or two commands; "" for none
};
constexpr std::array kPowerSets = {
    Choice{"1", {"power-on", ""}},
    Choice{"0", {"power-off", ""}},
};
constexpr std::array kInputSets = {
    Choice{"11", {"input-pc", ""}},
    Choice{"21", {"input-video", ""}},
};
constexpr std::array kMuteSets = {
    Choice{"10", {"video-mute-off", ""}},
    Choice{"11", {"video-mute-on", ""}},
    Choice{"20", {"audio-mute-off", ""}},
    Choice{"21", {"audio-mute-on", ""}},
    Choice{"30", {"video-mute-off", "audio-mute-off"}},
    Choice{"31", {"video-mute-on", "audio-mute-on"}},
};
constexpr std::array<std::pair<std::string_view, std::string_view>, 2> kInputs = {{
    {"computer", "11"},
    {"video", "21"},
}};

QByteArray reply(QByteArrayView head, QByteArrayView value)
{
    QByteArray text = head.toByteArray();
    text += '=';
    text += value;
    text += '\r';
    return text;
}

// At most `limit` bytes of UTF-8, cut between characters.
QByteArray cut(const QString& text, qsizetype limit)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= limit)
        return bytes;
    qsizetype end = limit;
    while (end > 0 && (quint8(bytes[end]) & 0xC0) == 0x80)
        --end;
    return bytes.left(end);
}

// The sets' commands, parsed once. Faces on several threads share them: a
// static's initialisation is thread-safe, a cache filled as it goes is not.
const Command& commandOf(std::string_view word)
{
    static const QHash<QString, Command> parsed = [] {
        QHash<QString, Command> all;
        const auto add = [&all](std::span<const Choice> choices) {
            for (const Choice& c : choices)
                for (const std::string_view w : c.words)
                    if (!w.empty()) {
                        const QString text = QString::fromLatin1(w.data(), qsizetype(w.size()));
                        all.insert(text, std::get<Command>(parseCommand(text)));
                    }
        };
        add(kPowerSets);
        add(kInputSets);
        add(kMuteSets);
        return all;
    }();
    return *parsed.find(QLatin1String(word.data(), qsizetype(word.size())));
}

template <std::size_t N>
std::variant<QByteArray, Forward> choose(const QByteArray& head, QByteArrayView parameter,
                                         const std::array<Choice, N>& choices)
{
    for (const Choice& c : choices) {
        if (parameter != QByteArrayView(c.parameter.data(), qsizetype(c.parameter.size())))
            continue;
        Forward forward{head, {}};
        for (const std::string_view word : c.words)
            if (!word.empty())
                forward.commands.append(commandOf(word));
        return forward;
    }
    return reply(head, "ERR2");
}

} // namespace

std::variant<QByteArray, Forward> answer(QByteArrayView line, const Known& known)
{
    // "%1POWR ?": a header, a class, four letters, a blank and a parameter.
    if (line.size() < 6 || line[0] != '%')
        return QByteArray();
    for (const char c : line.first(6)) // echoed in the reply: printable only
        if (c <= ' ' || c > '~')
            return QByteArray();
    const QByteArray head = line.first(6).toByteArray().toUpper();
    if (head[1] != '1')
        return reply(head, "ERR1");
    const QByteArrayView body = QByteArrayView(head).sliced(2);
    const bool spaced = line.size() > 6 && line[6] == ' ';
    const QByteArrayView parameter = spaced ? line.sliced(7) : QByteArrayView();
    const bool asked = parameter == "?";

    const QHash<QString, QString>& states = known.states;
    const QString power = states.value(QStringLiteral("power"));
    const PowerRow* row = nullptr;
    for (const PowerRow& r : kPowerRows)
        if (power == QLatin1String(r.state.data(), qsizetype(r.state.size())))
            row = &r;
    const bool reachable = states.value(QStringLiteral("availability")) == u"online";
    const auto fromProjector = [&](auto&& value) -> QByteArray {
        if (!asked)
            return reply(head, "ERR2");
        if (!reachable || !row)
            return reply(head, "ERR3");
        return value();
    };
    const auto fixed = [&](const QByteArray& value) { return asked ? reply(head, value) : reply(head, "ERR2"); };
    const auto set = [&](const auto& choices) -> std::variant<QByteArray, Forward> {
        auto chosen = choose(head, parameter, choices);
        if (!reachable && std::holds_alternative<Forward>(chosen))
            return reply(head, "ERR3"); // lost, or no longer answering: nothing is sent
        return chosen;
    };

    if (body == "POWR") {
        if (!asked)
            return set(kPowerSets);
        return fromProjector([&] { return row->powr ? reply(head, QByteArray(1, row->powr)) : reply(head, "ERR4"); });
    }
    if (body == "INPT") {
        if (!asked)
            return set(kInputSets);
        return fromProjector([&] {
            const QString input = states.value(QStringLiteral("input"));
            for (const auto& [state, code] : kInputs)
                if (input == QLatin1String(state.data(), qsizetype(state.size())))
                    return reply(head, QByteArrayView(code.data(), qsizetype(code.size())));
            return reply(head, "ERR3");
        });
    }
    if (body == "AVMT") {
        if (!asked)
            return set(kMuteSets);
        return fromProjector([&] {
            const bool video = states.value(QStringLiteral("video_mute")) == u"on";
            const bool audio = states.value(QStringLiteral("audio_mute")) == u"on";
            // Both muted or neither: the "3" forms; before anything was set, "30".
            return reply(head, video && audio ? "31" : video ? "11" : audio ? "21" : "30");
        });
    }
    if (body == "ERST")
        return fromProjector([&] { return reply(head, row->erst); });
    if (body == "LAMP") {
        return fromProjector([&] {
            bool ok = false;
            const uint hours = states.value(QStringLiteral("lamp_hours")).toUInt(&ok);
            if (!ok)
                return reply(head, "ERR3");
            return reply(head, QByteArray::number(hours) + (row->lampOn ? " 1" : " 0"));
        });
    }
    if (body == "INST")
        return fixed("11 21");
    if (body == "NAME")
        return fixed(cut(known.name, 64));
    if (body == "INF1")
        return fixed(kManufacturer);
    if (body == "INF2")
        return fixed(kProduct);
    if (body == "INFO")
        return fixed(cut(known.device, 32));
    if (body == "CLSS")
        return fixed("1");
    return reply(head, "ERR1");
}

QByteArray setAnswer(const QByteArray& head, bool ok) { return reply(head, ok ? "OK" : "ERR3"); }

QByteArray greeting(const QByteArray& random)
{
    return random.isEmpty() ? QByteArrayLiteral("PJLINK 0\r") : "PJLINK 1 " + random + '\r';
}

QByteArray makeRandom()
{
    return QByteArray::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, '0');
}

QByteArray digestOf(const QByteArray& random, const QByteArray& password)
{
    return QCryptographicHash::hash(random + password, QCryptographicHash::Md5).toHex();
}

bool sameDigest(QByteArrayView given, QByteArrayView expected)
{
    if (given.size() != expected.size())
        return false;
    unsigned char differ = 0;
    for (qsizetype i = 0; i < given.size(); ++i) // hexadecimal digits: | 0x20 is lower case
        differ |= static_cast<unsigned char>((given[i] | 0x20) ^ expected[i]);
    return differ == 0;
}

} // namespace orvik::pjlink
