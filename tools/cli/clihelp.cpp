#include "clihelp.h"

QString cliHelpText() {
    return QStringLiteral(R"help(Usage: chipwright-cli [OPTIONS] COMMAND [ARGS]
Drives a serial 8051 flash programmer (AT89C2051/4051/51/52/55, AT89S51/52/53) from the command line,
with the same code as the Chipwright window.

Commands:
  probe              Ask whether a programmer answers on the port.
  erase              Erase the chip.
  program FILE       Program the chip from FILE: Intel HEX when it ends in .hex, .ihx or .ihex,
                     binary when it ends in .bin (any case); "-" reads standard input.
  verify FILE        Compare the chip with FILE; stops at the first difference.
  read OUT           Read the whole chip and write it to OUT: Intel HEX when OUT ends in .hex,
                     .ihx or .ihex, binary when it ends in .bin (any case). OUT is used as given;
                     "-" writes standard output (Intel HEX unless --format bin).
  lock               Set the lock bits given by --lock.
  blank              Read the chip and say whether every byte is FF: "Chip is blank", or how many
                     bytes are not, the first address and its byte. Exit 0 when blank, 1 when not.
  auto FILE          Erase, program, verify and lock in one run.
  convert IN OUT     Load IN for the chip (as the window's Open does) and write it as OUT, each in
                     the format its name gives, dumped over the chip's whole capacity. Needs no
                     programmer. Either may be "-".
  ports              List the serial devices, in names --port accepts, with what is behind each:
                     the device path of a COMn name (COM1  /dev/ttyS0), USB ids, manufacturer,
                     product, serial number and /dev/serial/by-id/ names (--port takes those too).
  ports --probe [NAME...]
                     Send the probe on every listed port (or the named ones) at once and say
                     which answered like a programmer, stayed silent, or were busy or not
                     permitted. Exit 0 when a programmer answered. Nothing is ever written to
                     the kernel's console (/dev/console, a virtual terminal, or a serial port
                     the kernel uses as its console) nor to a port without hardware behind it:
                     those are listed as "not probed".
  chips              List the chip types with their index and size.

Options (defaults come from the Chipwright window's saved settings):
  --port NAME        Serial port: COM1 is /dev/ttyS0, a path stands as it is (./x and ../x from
                     the current folder), any other name is taken below /dev (ttyUSB0). A
                     programmer on another machine served by ser2net: rfc2217://HOST:PORT (line
                     settings sent over), tcp://HOST:PORT (raw bytes); an IPv6 HOST in
                     brackets. Default: the port set in the window's setup.
                     Give it several times to run probe, erase, program, verify, read, lock
                     or auto on every port at once, each programmer with its own chip (see
                     "Several programmers" below).
  --chip TYPE|INDEX  Chip type (AT89S52, any case) or its index 0-7 (see "chips").
  --lock LEVEL       Lock level for lock and auto: 0-3, LB1-LB3 (any case) or none.
  --fill FF|00       Byte that fills the image around the file's data.
  --baud RATE        Line rate in bits per second (50-4000000) for this run only, in place of the
                     window's saved rate, for a programmer strapped to another rate. Never saved.
  --format hex|bin   The image format where no file name gives it: for "-" and the other streams,
                     and for names of another ending. Without it, see "Streams" below; standard
                     output is Intel HEX.
  --trace FILE       Write a wire trace to FILE ("-": standard error): one line per frame sent
                     and per bytes received, with the time since the port opened in ms, "->"
                     or "<-", the bytes in hex and what the host reads in them. It starts with
                     a header ("# " lines: tool, port and device with its line settings, chip,
                     operation, file and checksum, date and time) and notes a wait that ran
                     out and a verify mismatch (address, file's byte, chip's byte).
  --repeat           Keep the port open and, after each run, ask for the next chip: "Insert the
                     next chip and press Enter (q to stop)". Only Enter alone starts the next
                     round; q, quit, exit or stop (any case), the end of standard input or
                     Ctrl+C stops with the totals; any other answer is asked again. On a
                     terminal, keys pressed during a round are thrown away. Counts passed and
                     failed chips and port errors (see "Port errors" below).
  --log FILE         Append one JSON line per run and port to FILE (see "Log file" below).
  --operator NAME    Who runs the station, for the log.
  --serial ADDR:LEN:FORMAT
                     With program and auto: give each chip its own serial number, written into
                     the image at ADDR (decimal or 0x-hex), LEN bytes, as le or be (binary),
                     bcd or ascii (decimal digits, zero-padded). Needs --serial-file.
  --serial-file FILE The counter: FILE holds the next number as text. Each number is taken
                     under a lock on FILE and FILE is replaced and synced before the chip is
                     touched, so no number is given twice, across ports, stations sharing FILE,
                     or a crash; a chip that fails keeps its number as spent.
  --serial-start N   Create FILE with N as the first number; refused when FILE exists.
  -q, --quiet        Print nothing on success; on failure the messages go to standard error.
  -h, --help         Show this text.
  --version          Show the version.
  Options may come before or after the command; "--" ends them.

Streams:
  "-", /dev/stdin, /dev/stdout, /dev/fd/N and the shell's <(...) and >(...) are read and written
  as streams. Without --format, input whose first character after a UTF-8 byte-order mark and
  blank lines is ':' is Intel HEX; input that is not text (control characters, bytes that are not
  UTF-8) is binary; any other text is refused with exit 2 and a hint to give --format. A HEX
  record whose checksum does not match is loaded as the window loads it, with one warning on
  standard error that names its line.

Output:
  Standard output carries the operation's messages, line for line as the window's message log
  shows them (for example "Programming Now ...... Please Wait !" and "Program Succssed!"),
  except when the image goes there ("read -", "convert IN -"): then they go to standard error.
  Progress bars go to standard error when standard output and standard error are the same
  terminal; otherwise (| tee FILE) only whole lines are written. Refusals and errors go to
  standard error: every exit 1 or 2 writes one line there saying why, --quiet or not.
  Output that does not arrive (a closed pipe, a full disk, a reader that stopped early) never
  cuts the run on the chip short; the tool says so at the end and exits 2 (or 1 when the
  operation failed as well).

Several programmers:
  With --port given more than once, every port runs the command at the same time on a thread of
  its own: a programmer that fails, goes silent, is unplugged or busy never stops or slows the
  others. Each line starts with its port ("[ttyUSB0] Program Succssed!"), a terminal shows one
  bar per port, and a table gives each port's result, time and failure at the end. read writes
  one file per port, the port's name put before the ending (chip-ttyUSB0.bin); so does --trace
  FILE ("--trace -" labels each line instead). With --repeat, Enter starts the next round on
  every port, and the table gives each port's passed and failed chips.

Port errors:
  A port that cannot be opened (gone, busy, no permission) or whose line breaks during a run (an
  adapter unplugged) is a port error, counted apart from failed chips. Each prompt names the
  ports that did not pass in the round just ended, with the reason. A port that could not be
  opened in 3 rounds in a row is dropped from the session; with no port left, it ends (exit 1).

Log file:
  One JSON object per line, appended whole or not at all: lines stay whole when several runs or
  stations end at once, and a line that cannot be written whole (a full disk, a file size
  limit, a lost network share) is taken back and the session stops at once with exit 1.
  {"time":"2026-12-10T17:30:05.120+01:00","port":"ttyUSB0","chip":"AT89C2051",
   "operation":"auto","file":"fw.hex","checksum":"3A7C","lock":3,"result":"passed",
   "failure":"","duration":11.482,"round":1,"session":"0b7f3c2e-...","station":"bench-3",
   "operator":"ann","version":"2.0","sha256":"9f2c...","output":null,"serial":1042,
   "programmed_checksum":"3AA0"}
  time: the run's start, ISO 8601 with zone. result: "passed", "failed" or "port-error".
  failure: why, in the window's words. duration: seconds. checksum: the 16-bit sum of the bytes
  programmed or verified (the file's data up to its last 16-byte block) or read (the whole
  chip, by a read that passed), as 4 hex digits. round: the round in the session, from 1.
  session: one id per run of the tool. station: the host name. operator: --operator. version:
  the tool's. sha256: of the image file's bytes as read. output: the file a read wrote.
  serial: the chip's serial number (--serial). programmed_checksum: the 16-bit sum of the bytes
  really sent, the serial number included. file, checksum, sha256, chip, lock, output, serial
  and programmed_checksum are null where the operation has none.
  A file or port name whose bytes are not UTF-8 keeps every byte: each byte that is not part of
  valid UTF-8 is written as the escape \udcXX (XX: the byte in hex; Python's "surrogateescape"
  reads it back), e.g. the Latin-1 name "\xe9t\xe9.hex" becomes "\udce9t\udce9.hex".

Exit status:
  0  success (on every port, in every round)
  1  the operation failed (on any port): failure reply, verify mismatch, no answer from the programmer
     (also for probe), a reply that does not belong to the running operation, a run that
     ended short of what the command asked for (auto ends with its Lock), the port could not
     be opened or the line failed, or the log could not take a line; the reason goes to
     standard error
  2  usage error, a file that cannot be read or written, a file too large for the chip, a
     serial number that cannot be given (outside the chip, over the file's data, too large for
     its bytes, no counter file, a counter started again), or a file without data ("Please
     Open *.Hex or *.Bin File Firstly !"); these are found before any port is touched (read OUT
     checks that OUT can be written before reading the chip); also standard output that lost
     what was written to it

Settings are read, never written: the window's choices for chip, lock level and fill byte, and
its port settings, under ${XDG_CONFIG_HOME:-~/.config}/chipwright/registry.

Examples:
  chipwright-cli --port ttyUSB0 --chip AT89C2051 program firmware.hex
  chipwright-cli --chip 6 read chip.bin
  chipwright-cli --chip at89s52 --lock LB2 auto firmware.hex
  chipwright-cli --chip AT89C4051 convert firmware.ihx firmware.bin
  cat firmware.ihx | chipwright-cli --chip 0 program -
  chipwright-cli --chip 0 read - | xxd | less
  chipwright-cli --chip 0 verify <(srec_cat fw.s19 -motorola -o - -intel)
  chipwright-cli --port ttyUSB0 --baud 19200 --chip 0 probe
  chipwright-cli --trace - --chip 0 auto firmware.hex
  chipwright-cli --port ttyUSB0 --port ttyUSB1 --chip 0 --repeat --log chips.log auto fw.hex
  chipwright-cli --chip 0 --serial 0x7F0:4:le --serial-file serial.txt --serial-start 1000 auto fw.hex
  chipwright-cli --chip 0 blank
)help");
}
