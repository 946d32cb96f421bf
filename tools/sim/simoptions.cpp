#include "simoptions.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::int64_t ms = 1000;

// Decimal, or hexadecimal with a 0x prefix; no sign.
std::optional<std::int64_t> number(const QString& text, std::int64_t lowest, std::int64_t highest) {
    bool ok = false;
    const qlonglong value = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                                ? text.mid(2).toLongLong(&ok, 16)
                                : text.toLongLong(&ok, 10);
    if (!ok || text.startsWith(u'+') || value < lowest || value > highest) return std::nullopt;
    return value;
}

} // namespace

QString helpText() {
    return QStringLiteral(R"(Usage: chipwright-sim [OPTIONS]

A stand-in for the serial 8051 flash programmer. It creates a pseudo-terminal, prints the
path of its device (for example /dev/pts/7) on the first line of standard output, and plays
the programmer towards whatever opens that device: point Chipwright's port at that path.
It keeps one memory per chip type (AT89C2051 2K, AT89C4051 4K, AT89C51 4K, AT89C52 8K,
AT89C55 20K, AT89S51 4K, AT89S52 8K, AT89S53 12K), all erased (0xFF) at start unless a state
file says otherwise.

What it answers (bytes in hex; x is a byte it does not read):
  FA 00 00                 probe                  -> 02
  chip 02 x                erase                  -> 06 (memory to FF, lock level to 0)
  chip 03 x                program                -> 03, then per data frame 07 07 +16 bytes
                                                     (stored at block 0, 1, ...) another 03;
                                                     end frame 08 +17 bytes -> 07
  chip 04 x                read / verify          no reply; each block request 09 x x ->
                                                     18-byte frame: block number (2 bytes,
                                                     high first) + 16 bytes of that block;
                                                     after the chip's last block, 11 by itself;
                                                     stop 10 x x -> nothing (back to idle)
  chip 06 level            lock                   -> 09 (lock bits add up until an erase)
  chip 01 level            auto                   -> erase, 06, then the program exchange by
                                                     itself (03 ... end frame -> 07); the host
                                                     then verifies and locks on its own
  chip is 0-7, level 0-3. The lone replies 06 and 07 continue an auto run on the host because
  the host remembers the command it sent; --two-byte-replies sends 06/07 plus 01 (auto goes
  on) or 00 (it does not) instead. Once a chip is full no further block is asked for; a data
  frame past the chip's end is answered with 01 (programming failed).

How frames are recognised: the line has no markers, so the first byte decides the length:
  00-07 followed by 01/02/03/04/06 is a command (3 bytes; level 0-3 for 01 and 06), 07 07 a
  data frame (18), 08 an end frame (18), 09 a block request (3), 10 a stop (3), FA 00 00 the
  probe. Any other byte is dropped and recognition starts again at the next one. A partial
  frame is dropped when no byte arrives for --frame-timeout. Frames that belong to no running
  exchange are consumed whole and ignored, so a late data or end frame is never taken apart
  into commands. Every command ends the exchange that was running.

Options:
  --state FILE             Keep the chip memories in FILE: loaded at start when it exists
                           (a malformed file stops the simulator instead of being replaced),
                           rewritten atomically after every erase and lock, at the end of
                           every program or auto exchange (never halfway), and at exit. Format: the text line
                           "chipwright-sim state 1", eight lines "chip I TYPE BYTES lock L"
                           for chip indexes 0-7, the line "data", then the raw memory images
                           of chips 0 to 7 back to back.
  -v, --verbose            Log every frame in and out on standard error: "in" for bytes from
                           the host, "out" for bytes sent, "--" for notes; hex bytes, then
                           what they mean.
  --exit-after-idle MS     Exit when MS milliseconds pass with nothing received or sent.
  --exit-on-stdin-close    Exit when standard input reaches its end (off by default: with no
                           standard input, as in CI or in the background, it would exit at
                           once).
  --two-byte-replies       Send the replies 06 and 07 as two bytes (see above).
  --reply-gap MS           Pause before output that follows our own output rather than a
                           host frame: the first 03 of an auto run, 07 after the end frame,
                           11 after the last block frame; it makes the host receive them
                           apart (default 150). After the last block of a verification the
                           host waits 50 ms and sends its stop frame, which cancels the 11
                           that is still waiting: keep the gap above that.
  --block-time MS          Time to program a block before asking for the next (default 0).
                           The simulator cannot know which block is the host's last, so by
                           default it asks once more after it, and the host meets that
                           request after its end frame. Above the host's 50 ms pause before
                           the end frame, the end frame comes first and cancels the request.
  --frame-timeout MS       Silence that drops a partial frame (default 250).
  --baud RATE              Pace the wire: each byte takes 10 bits at RATE baud, both ways.
                           Replies leave byte by byte at that speed, and received bytes count
                           as arrived only when they would have crossed such a line
                           (default: unpaced).

Faults to inject:
  --silence-after N        Stop answering once N bytes have been received: frames complete
                           within those bytes are still answered, everything after is ignored.
  --fail-program           Answer the end frame of a program or auto exchange with 01
                           (programming failed) instead of 07.
  --fail-after-block N     Answer the data frame of block N with 01 and end the exchange.
  --corrupt ADDR           Send the byte at chip address ADDR inverted in read frames
                           (0x123 or 291); the memory is not changed. Provokes a verify
                           mismatch.
  --split POS[,POS...]     Send each block frame in pieces, cut before the given byte
                           positions (1-17): "10" sends 10 + 8 bytes, "6,12" three pieces.
  --split all              Send each block frame one byte at a time.
  --split-gap MS           Pause between the pieces of a split frame (default 20).
  --extra-bytes HEX        Append these bytes to every status reply in the same write, e.g.
                           "5A" or "5A,A5" (after 06 or 07 a second byte 01 continues an
                           auto run on the host).
  --hangup-after N         Once N bytes have been received, close the pseudo-terminal as an
                           unplugged adapter would, and exit; bytes past the Nth are not
                           read, and replies still on their way may be lost with the device.

  -h, --help               Show this text.
  --version                Show the version.

Example:
  chipwright-sim --state chips.state --verbose &      (prints e.g. /dev/pts/7)
  chipwright-cli --port /dev/pts/7 --chip AT89C2051 program firmware.hex

The simulator keeps a descriptor of the device open itself, so the host may open and close
it any number of times; bytes sent while no host has it open wait in the device. It exits
with status 0 on SIGINT, SIGTERM, --exit-after-idle, --exit-on-stdin-close and
--hangup-after; 1 when the pseudo-terminal fails or the state file cannot be written; 2 on a
usage error or an unreadable state file. Numbers are decimal or hexadecimal with 0x.
)");
}

ParsedArguments parseArguments(const QStringList& arguments) {
    ParsedArguments parsed;
    SimOptions& o = parsed.options;
    for (qsizetype i = 0; i < arguments.size() && parsed.error.isEmpty(); ++i) {
        QString name = arguments[i];
        QString value;
        bool hasValue = false;
        if (name.startsWith(QLatin1String("--")) && name.contains(u'=')) {
            value = name.section(u'=', 1);
            name = name.section(u'=', 0, 0);
            hasValue = true;
        }
        auto take = [&]() -> std::optional<QString> {
            if (hasValue) return value;
            if (i + 1 < arguments.size()) return arguments[++i];
            parsed.error = QStringLiteral("%1 needs a value").arg(name);
            return std::nullopt;
        };
        auto integer = [&](std::int64_t lowest, std::int64_t highest) -> std::optional<std::int64_t> {
            const auto text = take();
            if (!text) return std::nullopt;
            const auto n = number(*text, lowest, highest);
            if (!n)
                parsed.error = QStringLiteral("%1: \"%2\" is not a number from %3 to %4")
                                   .arg(name, *text)
                                   .arg(lowest)
                                   .arg(highest);
            return n;
        };
        auto flag = [&](bool& target) {
            if (hasValue) parsed.error = QStringLiteral("%1 takes no value").arg(name);
            target = true;
        };
        constexpr std::int64_t maxMs = 24LL * 3600 * 1000;
        constexpr std::int64_t maxCount = std::int64_t(1) << 40;

        if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
            parsed.help = true;
        } else if (name == QLatin1String("--version")) {
            parsed.version = true;
        } else if (name == QLatin1String("-v") || name == QLatin1String("--verbose")) {
            flag(o.verbose);
        } else if (name == QLatin1String("--state")) {
            if (auto text = take()) o.statePath = *text;
            if (parsed.error.isEmpty() && o.statePath.isEmpty())
                parsed.error = QStringLiteral("--state needs a file name");
        } else if (name == QLatin1String("--exit-after-idle")) {
            if (auto n = integer(1, maxMs)) o.exitAfterIdleMs = *n;
        } else if (name == QLatin1String("--exit-on-stdin-close")) {
            flag(o.exitOnStdinClose);
        } else if (name == QLatin1String("--two-byte-replies")) {
            flag(o.engine.twoByteReplies);
        } else if (name == QLatin1String("--reply-gap")) {
            if (auto n = integer(0, maxMs)) o.engine.replyGap = *n * ms;
        } else if (name == QLatin1String("--block-time")) {
            if (auto n = integer(0, maxMs)) o.engine.blockTime = *n * ms;
        } else if (name == QLatin1String("--frame-timeout")) {
            if (auto n = integer(1, maxMs)) o.engine.frameTimeout = *n * ms;
        } else if (name == QLatin1String("--split-gap")) {
            if (auto n = integer(0, maxMs)) o.engine.splitGap = *n * ms;
        } else if (name == QLatin1String("--baud")) {
            if (auto n = integer(50, 4'000'000)) o.baud = int(*n);
        } else if (name == QLatin1String("--silence-after")) {
            if (auto n = integer(0, maxCount)) o.engine.faults.silenceAfterBytes = *n;
        } else if (name == QLatin1String("--fail-program")) {
            flag(o.engine.faults.failProgram);
        } else if (name == QLatin1String("--fail-after-block")) {
            if (auto n = integer(0, 20480 / blockSize - 1)) o.engine.faults.failAfterBlock = int(*n);
        } else if (name == QLatin1String("--corrupt")) {
            if (auto n = integer(0, 20480 - 1)) o.engine.faults.corruptAddress = int(*n);
        } else if (name == QLatin1String("--hangup-after")) {
            if (auto n = integer(1, maxCount)) o.hangupAfterBytes = *n;
        } else if (name == QLatin1String("--split")) {
            const auto text = take();
            if (!text) break;
            std::vector<int> cuts;
            if (*text == QLatin1String("all")) {
                for (int cut = 1; cut < frameSize; ++cut)
                    cuts.push_back(cut);
            } else {
                for (const QString& part : text->split(u',')) {
                    const auto cut = number(part, 1, frameSize - 1);
                    if (!cut) {
                        parsed.error =
                            QStringLiteral("--split: \"%1\" is not a position from 1 to 17").arg(part);
                        break;
                    }
                    cuts.push_back(int(*cut));
                }
            }
            std::sort(cuts.begin(), cuts.end());
            cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
            o.engine.faults.splitAt = cuts;
        } else if (name == QLatin1String("--extra-bytes")) {
            const auto text = take();
            if (!text) break;
            QByteArray bytes;
            for (const QString& part : text->split(u',')) {
                QString digits = part.trimmed();
                if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) digits = digits.mid(2);
                bool ok = false;
                const uint byte = digits.toUInt(&ok, 16);
                if (!ok || digits.size() > 2 || byte > 0xFF) {
                    parsed.error = QStringLiteral("--extra-bytes: \"%1\" is not a hex byte").arg(part);
                    break;
                }
                bytes.append(char(byte));
            }
            o.engine.faults.extraBytes = bytes;
        } else {
            parsed.error = QStringLiteral("unknown option \"%1\"").arg(arguments[i]);
        }
    }
    if (o.baud > 0) o.engine.byteTime = std::max<std::int64_t>(1, 10 * 1'000'000 / o.baud);
    return parsed;
}

} // namespace sim
