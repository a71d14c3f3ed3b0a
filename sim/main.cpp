// tl02-sim: a TL-02 detector (and its bootloader) on a pseudo-terminal, and
// optionally behind a serial device server (RTU frames over TCP) and a Modbus
// TCP gateway.  With --devices it plays several detectors sharing one RS-485
// line instead, each answering its own address.
//
// The first stdout line names the pty slave to open, the next ones the TCP
// listeners; afterwards every frame and reply is logged on stdout (unless
// --quiet) and stdin takes control commands (faults, register values, dump,
// quit). See usage() for options.

#include "device.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace tl02sim;

namespace {

volatile sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

constexpr int64_t kMs = 1000000;
constexpr int64_t kRawGapNs = 20 * kMs;
constexpr size_t kRawLimit = 4096;
constexpr size_t kLineLimit = 4096;
constexpr int64_t kStuckOutputNs = 500 * kMs;
// Longest MBAP length field taken: unit id plus the longest PDU the serial
// side can delimit (a function 14 block of 255 bytes).
constexpr size_t kMbapLengthLimit = 1 + 261;

int64_t nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Wire time of n bytes at 9600 baud, 10 bits per byte.
int64_t wireNs(size_t n) { return int64_t(n) * 10000000000LL / 9600; }

void sleepUntil(int64_t t)
{
    timespec ts{time_t(t / 1000000000), long(t % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

std::string toHex(const uint8_t *p, size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        s.push_back(digits[p[i] >> 4]);
        s.push_back(digits[p[i] & 15]);
    }
    return s;
}

void emit(const std::string &line)
{
    std::string s = line + "\n";
    if (fwrite(s.data(), 1, s.size(), stdout) != s.size())
        clearerr(stdout);
    fflush(stdout);
}

// Decimal or 0x-prefixed hex; the whole token must be a number.
bool parseNumber(const std::string &tok, long long &out)
{
    if (tok.empty())
        return false;
    const char *s = tok.c_str();
    bool neg = false;
    if (*s == '-') {
        neg = true;
        ++s;
    }
    int base = 10;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s += 2;
    }
    if (*s == '\0' || *s == '+' || *s == '-' || *s == ' ')
        return false;
    errno = 0;
    char *end = nullptr;
    long long v = strtoll(s, &end, base);
    if (errno != 0 || *end != '\0')
        return false;
    out = neg ? -v : v;
    return true;
}

// One detector of a multi-drop line, as --devices names it.
struct DropEntry {
    int address = 0;
    long type = -1;        // -1: --type
    std::string version;   // empty: --version
    long long serial = -1; // -1: derived from the address
};

constexpr int kLineAddressFirst = 1;
constexpr int kLineAddressLast = 247;
// Serial numbers of a multi-drop line's detectors unless their file line
// gives one: this plus the address, so that every one differs and the high
// word is in use.
constexpr uint32_t kLineSerialBase = 100000;

struct Options {
    int address = 1;
    bool addressGiven = false;
    bool devicesGiven = false;
    std::string devices;          // --devices as given
    std::vector<DropEntry> drops;  // empty: one detector at --address
    long type = 1;
    std::string version = "1.06";
    bool bootloader = false;
    std::string link;
    bool pace = false;
    long turnaroundMs = 0;
    std::string dump;
    bool quiet = false;
    std::string listen = "127.0.0.1";
    long tcpPort = -1;         // RTU frames over TCP, -1 off
    long modbusTcpPort = -1;   // Modbus TCP (MBAP), -1 off
};

void usage(FILE *f)
{
    fprintf(f,
            "usage: tl02-sim [options]\n"
            "  --address N        Modbus address it answers at (default 1), 1..255; not with\n"
            "                     --devices\n"
            "  --devices LIST     several detectors on the one line (RS-485 multi-drop) instead\n"
            "                     of one: addresses and ranges 1..247, e.g. 1,5,9-12\n"
            "  --devices @FILE    the same, one detector per line of FILE:\n"
            "                       ADDRESS [type T] [version TEXT] [serial N]\n"
            "                     ('#' starts a comment, blank lines are skipped)\n"
            "  --type N           value of input register 4 (default 1; 1 and 2 are detectors)\n"
            "  --version TEXT     firmware version text, identification object 2 (default 1.06)\n"
            "  --bootloader       start in bootloader mode (not with --devices)\n"
            "  --link PATH        also create a symlink PATH to the pty slave, removed on exit\n"
            "                     while it still points there; a PATH that exists is refused\n"
            "  --pace             send at 9600 baud wire speed and wait the request's wire time\n"
            "  --turnaround MS    extra delay between request and reply (default 0)\n"
            "  --dump FILE        write the flash image to FILE on exit and on \"dump\"\n"
            "                     (not with --devices)\n"
            "  --quiet            do not log RX/TX lines\n"
            "  --tcp PORT         also listen on TCP PORT (0: any free one) for RTU frames with\n"
            "                     their CRC, as a serial device server carries them\n"
            "  --modbus-tcp PORT  also listen on TCP PORT (0: any free one) for Modbus TCP: MBAP\n"
            "                     header, no CRC, the unit id as the Modbus address (0 broadcast)\n"
            "  --listen ADDR      IPv4 address of both listeners (default 127.0.0.1)\n"
            "It prints \"PORT /dev/pts/N\", then \"TCP ADDR:PORT\" and \"MODBUS-TCP ADDR:PORT\" for\n"
            "the listeners asked for. Each listener serves one client at a time: a new\n"
            "connection replaces the one before. Over TCP, requests and replies, pacing,\n"
            "turnaround and faults are as on the pty. RX lines show every request as an RTU\n"
            "frame (unit id as address, CRC added for Modbus TCP); TX lines show the bytes sent.\n"
            "It ends with the process that started it.\n"
            "\n"
            "multi-drop line (--devices): each detector has its own registers, type, version\n"
            "(--type and --version give the default) and serial number (default 100000 plus\n"
            "its address; holding registers 0x100F and 0x1010), and answers only its own\n"
            "address. A request to an address nobody has gets no reply (logged as RXOTHER).\n"
            "A broadcast (address 0) reaches every detector and is carried out by each; none\n"
            "answers it. Should more than one detector answer a request (two detectors in\n"
            "the bootloader asked at address 0, two set to the same address), the replies\n"
            "would collide: none is sent. Pacing and turnaround are the line's: one reply at\n"
            "a time. Frame lines name the frame's address after the kind: \"RX @5 0503...\",\n"
            "\"TX @5 ...\", \"RXOTHER @7 ...\", \"RXBAD @5 ...\"; event lines name the detector\n"
            "they come from: \"CMD @5 6060\", \"MODE @5 bootloader\". Without --devices these\n"
            "lines carry no address.\n"
            "\n"
            "control lines on stdin (each answered \"OK <line>\" or \"ERR <line>\"):\n"
            "  @N LINE            LINE for the detector at address N, e.g. \"@5 fault noreply 1\",\n"
            "                     \"@5 get holding 0x100F\"; without the prefix a line is for the\n"
            "                     detector with the lowest address given (the one detector\n"
            "                     without --devices). Not for fault babble and quit, which are\n"
            "                     the line's\n"
            "  fault KIND ... COUNT [SKIP]\n"
            "                     spoil the next COUNT replies (-1 forever) after SKIP good ones:\n"
            "    noreply          no reply at all\n"
            "    badcrc           reply with a wrong CRC\n"
            "    short            only the first two reply bytes\n"
            "    mismatch         a CRC-valid reply that does not fit the request\n"
            "    split MS         reply in two halves MS milliseconds apart\n"
            "    delay MS         reply MS milliseconds late\n"
            "    exception CODE   exception reply with CODE; the request is not carried out\n"
            "    fewer N          function 3/4 reads get only the first N registers asked for\n"
            "                     (a valid frame with byte count 2*N); counts only read replies\n"
            "  On Modbus TCP: badcrc makes the MBAP length one more than the bytes that follow;\n"
            "  short sends the MBAP header and the function code only; mismatch sends the same\n"
            "  misfitting PDU with a length that matches it; split halves the whole reply.\n"
            "  fault babble MS    jam the line: one byte 0xFF every MS milliseconds (MS >= 1), on\n"
            "                     the pty and to every TCP client, until \"fault off\". Requests are\n"
            "                     still logged as RX but neither carried out nor answered; a reply\n"
            "                     on its way is dropped. The bytes are not logged as TX; one that\n"
            "                     does not fit (a full TCP send buffer) is dropped, not waited for\n"
            "  fault clear        drop all faults and stop the babble; with @N, drop only the\n"
            "                     faults of detector N\n"
            "  fault off          the same as fault clear\n"
            "  set holding REG V | set input REG V | set type V | set ident ID TEXT\n"
            "  live REG           input REG follows the sensor again\n"
            "  get holding REG | get input REG\n"
            "  dump               write the flash image to the --dump file\n"
            "  quit               remove the --link symlink, write the dump and exit\n");
}

// An address of a multi-drop line, 1..247.
bool lineAddress(const std::string &tok, int &out)
{
    long long v = 0;
    if (!parseNumber(tok, v) || v < kLineAddressFirst || v > kLineAddressLast)
        return false;
    out = int(v);
    return true;
}

// "1,5,9-12": addresses and ranges.
bool parseDeviceList(const std::string &list, std::vector<DropEntry> &out)
{
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ',');) {
        const size_t dash = item.find('-', 1);
        int first = 0, last = 0;
        const bool good = dash == std::string::npos
            ? lineAddress(item, first) && lineAddress(item, last)
            : lineAddress(item.substr(0, dash), first) && lineAddress(item.substr(dash + 1), last) && first <= last;
        if (!good) {
            fprintf(stderr, "tl02-sim: --devices: bad address or range \"%s\" (addresses are %d..%d)\n",
                    item.c_str(), kLineAddressFirst, kLineAddressLast);
            return false;
        }
        for (int a = first; a <= last; ++a) {
            DropEntry d;
            d.address = a;
            out.push_back(d);
        }
    }
    if (!list.empty() && list.back() == ',') {
        fprintf(stderr, "tl02-sim: --devices: list ends with a comma\n");
        return false;
    }
    return true;
}

// One detector per line: ADDRESS [type T] [version TEXT] [serial N].
bool parseDeviceFile(const std::string &path, std::vector<DropEntry> &out)
{
    std::ifstream file(path);
    if (!file) {
        fprintf(stderr, "tl02-sim: --devices: cannot read %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        auto bad = [&](const std::string &why) {
            fprintf(stderr, "tl02-sim: %s:%d: %s\n", path.c_str(), number, why.c_str());
            return false;
        };
        std::istringstream in(line.substr(0, line.find('#')));
        std::vector<std::string> tok;
        for (std::string t; in >> t;)
            tok.push_back(t);
        if (tok.empty())
            continue;
        DropEntry d;
        if (!lineAddress(tok[0], d.address))
            return bad("\"" + tok[0] + "\" is no address 1..247");
        for (size_t i = 1; i < tok.size(); i += 2) {
            if (i + 1 >= tok.size())
                return bad(tok[i] + " needs a value");
            long long v = 0;
            if (tok[i] == "type" && parseNumber(tok[i + 1], v) && v >= 0 && v <= 0xFFFF)
                d.type = long(v);
            else if (tok[i] == "serial" && parseNumber(tok[i + 1], v) && v >= 0 && v <= 0xFFFFFFFFLL)
                d.serial = v;
            else if (tok[i] == "version")
                d.version = tok[i + 1];
            else
                return bad("bad field \"" + tok[i] + " " + tok[i + 1] + "\"");
        }
        out.push_back(d);
    }
    return true;
}

// Fills o.drops from o.devices, sorted by address.
bool parseDevices(Options &o)
{
    if (o.bootloader || !o.dump.empty() || o.addressGiven) {
        fprintf(stderr, "tl02-sim: --devices does not go with %s: they are for a single detector\n",
                o.bootloader ? "--bootloader" : !o.dump.empty() ? "--dump" : "--address");
        return false;
    }
    const bool file = !o.devices.empty() && o.devices[0] == '@';
    if (!(file ? parseDeviceFile(o.devices.substr(1), o.drops) : parseDeviceList(o.devices, o.drops)))
        return false;
    if (o.drops.empty()) {
        fprintf(stderr, "tl02-sim: --devices: no detector given\n");
        return false;
    }
    std::sort(o.drops.begin(), o.drops.end(),
              [](const DropEntry &a, const DropEntry &b) { return a.address < b.address; });
    for (size_t i = 1; i < o.drops.size(); ++i) {
        if (o.drops[i].address == o.drops[i - 1].address) {
            fprintf(stderr, "tl02-sim: --devices: address %d given twice\n", o.drops[i].address);
            return false;
        }
    }
    return true;
}

bool parseArgs(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string &out) {
            if (i + 1 >= argc) {
                fprintf(stderr, "tl02-sim: %s needs a value\n", a.c_str());
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto number = [&](long long lo, long long hi, long long &out) {
            std::string v;
            if (!value(v))
                return false;
            if (!parseNumber(v, out) || out < lo || out > hi) {
                fprintf(stderr, "tl02-sim: bad value for %s: %s\n", a.c_str(), v.c_str());
                return false;
            }
            return true;
        };
        long long n = 0;
        if (a == "--address") {
            if (!number(1, 255, n))
                return false;
            o.address = int(n);
            o.addressGiven = true;
        } else if (a == "--devices") {
            if (!value(o.devices))
                return false;
            o.devicesGiven = true;
        } else if (a == "--type") {
            if (!number(0, 65535, n))
                return false;
            o.type = long(n);
        } else if (a == "--version") {
            if (!value(o.version))
                return false;
        } else if (a == "--bootloader") {
            o.bootloader = true;
        } else if (a == "--link") {
            if (!value(o.link))
                return false;
        } else if (a == "--pace") {
            o.pace = true;
        } else if (a == "--turnaround") {
            if (!number(0, 600000, n))
                return false;
            o.turnaroundMs = long(n);
        } else if (a == "--dump") {
            if (!value(o.dump))
                return false;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--tcp" || a == "--modbus-tcp") {
            if (!number(0, 65535, n))
                return false;
            (a == "--tcp" ? o.tcpPort : o.modbusTcpPort) = long(n);
        } else if (a == "--listen") {
            in_addr ip;
            if (!value(o.listen))
                return false;
            if (inet_pton(AF_INET, o.listen.c_str(), &ip) != 1) {
                fprintf(stderr, "tl02-sim: bad value for --listen: %s\n", o.listen.c_str());
                return false;
            }
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            exit(0);
        } else {
            fprintf(stderr, "tl02-sim: unknown option %s\n", a.c_str());
            return false;
        }
    }
    return !o.devicesGiven || parseDevices(o);
}

enum class FaultKind { NoReply, BadCrc, Split, Delay, Exception, Short, Mismatch, Fewer };

struct Fault {
    FaultKind kind;
    long long param = 0;   // gap or delay in ms, exception code, or registers kept
    long long count = 0;   // -1 forever
    long long skip = 0;

    // Whether the fault acts on (and counts) a request with this function code.
    bool appliesTo(uint8_t function) const
    {
        return kind != FaultKind::Fewer || function == 3 || function == 4;
    }
};

// A reply on its way out. Byte i leaves at start + i byte times (when paced)
// plus the split gap for the second half.
struct Outgoing {
    std::vector<uint8_t> bytes;
    int64_t start = 0;
    size_t split = 0;
    int64_t gapNs = 0;
    bool paced = false;
    size_t sent = 0;
    bool logged = false;
    std::string tag;   // "@N " on a multi-drop line's TX line

    int64_t due(size_t i) const
    {
        int64_t t = start + (paced ? wireNs(i) : 0);
        if (split > 0 && i >= split)
            t += gapNs;
        return t;
    }
};

// One way in to the device: the pty, or the client of a TCP listener. Each
// keeps its own receive buffer and its own reply on the way out.
struct Line {
    const char *name = "";
    bool mbap = false;     // Modbus TCP: MBAP header, no CRC
    bool socket = false;   // a TCP client: end of input closes it
    int fd = -1;
    int listenFd = -1;
    std::string address;   // ADDR:PORT the listener is bound to

    std::vector<uint8_t> rx;
    std::vector<uint8_t> raw;
    int64_t lastRx = 0;

    bool outPending = false;
    Outgoing out;
};

// The Modbus TCP form of an RTU reply: the request's transaction and unit id,
// protocol 0, the length of what follows, then the PDU without address and CRC.
std::vector<uint8_t> toMbap(const uint8_t *header, const std::vector<uint8_t> &rtu)
{
    const size_t length = rtu.size() - 3 + 1;   // PDU plus unit id
    std::vector<uint8_t> adu{header[0], header[1], 0, 0, uint8_t(length >> 8), uint8_t(length & 0xFF), header[6]};
    adu.insert(adu.end(), rtu.begin() + 1, rtu.end() - 2);
    return adu;
}

// A detector on the line with the faults asked for it.
struct Drop {
    Device dev;
    std::vector<Fault> faults;
};

class Simulator {
public:
    Simulator(const Options &o) : m_opt(o), m_multi(!o.drops.empty())
    {
        if (!m_multi) {
            m_drops.push_back({Device(uint8_t(o.address), uint16_t(o.type), o.version, o.bootloader), {}});
            return;
        }
        m_drops.reserve(o.drops.size());
        for (const DropEntry &d : o.drops) {
            const uint32_t serial = d.serial >= 0 ? uint32_t(d.serial) : kLineSerialBase + uint32_t(d.address);
            m_drops.push_back({Device(uint8_t(d.address), uint16_t(d.type >= 0 ? d.type : o.type),
                                      d.version.empty() ? o.version : d.version, false, serial),
                               {}});
        }
    }

    bool open();
    int run();

private:
    void log(const std::string &line)
    {
        if (!m_opt.quiet)
            emit(line);
    }
    bool listenOn(Line &l, long port);
    void acceptClient(Line &l);
    void dropClient(Line &l, const char *why);
    void readLine(Line &l);
    void parseRx(Line &l);
    void parseMbap(Line &l);
    void flushRaw(Line &l);
    void onFrame(Line &l, const uint8_t *f, size_t n, int64_t at, size_t wireLen, const uint8_t *mbap);
    static bool takeFault(std::vector<Fault> &faults, uint8_t function, Fault &out);
    // "@N " naming an address on a multi-drop line's log lines, else nothing.
    std::string tag(int address) const { return m_multi ? "@" + std::to_string(address) + " " : std::string(); }
    void serviceOutput(Line &l);
    void startBabble(long long ms);
    void stopBabble();
    void babble(int64_t now);
    void readStdin();
    void command(const std::string &line);
    bool dumpFlash(const Device &dev, std::string &err);
    bool makeLink();
    void removeLink();
    void shutdown();

    Options m_opt;
    bool m_multi;                // --devices: frame and event lines name addresses
    std::vector<Drop> m_drops;   // by address as started; one without --devices
    int m_slave = -1;
    std::string m_slavePath;
    bool m_linkMade = false;
    dev_t m_linkDev = 0;   // the link this run made
    ino_t m_linkIno = 0;

    Line m_pty;
    Line m_tcp;
    Line m_mbap;
    Line *const m_lines[3] = {&m_pty, &m_tcp, &m_mbap};

    // The jammed transmitter: one 0xFF every m_babbleNs (0: quiet), the next at m_babbleNext.
    int64_t m_babbleNs = 0;
    int64_t m_babbleNext = 0;

    bool m_stdinOpen = true;
    std::string m_stdinBuf;
    bool m_discardingLine = false;
    bool m_quit = false;
};

bool Simulator::open()
{
    char name[256] = {};
    termios raw;
    memset(&raw, 0, sizeof raw);
    cfmakeraw(&raw);
    cfsetispeed(&raw, B9600);
    cfsetospeed(&raw, B9600);
    int master = -1;
    if (openpty(&master, &m_slave, name, &raw, nullptr) != 0) {
        fprintf(stderr, "tl02-sim: openpty: %s\n", strerror(errno));
        return false;
    }
    // Both ends raw, so that no byte is translated or echoed.
    tcsetattr(m_slave, TCSANOW, &raw);
    tcsetattr(master, TCSANOW, &raw);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_slavePath = name;
    m_pty.name = "pty";
    m_pty.fd = master;
    m_tcp.name = "tcp";
    m_tcp.socket = true;
    m_mbap.name = "modbus-tcp";
    m_mbap.socket = true;
    m_mbap.mbap = true;
    if ((m_opt.tcpPort >= 0 && !listenOn(m_tcp, m_opt.tcpPort))
        || (m_opt.modbusTcpPort >= 0 && !listenOn(m_mbap, m_opt.modbusTcpPort)))
        return false;

    if (!m_opt.link.empty() && !makeLink())
        return false;
    emit("PORT " + m_slavePath);
    if (m_tcp.listenFd >= 0)
        emit("TCP " + m_tcp.address);
    if (m_mbap.listenFd >= 0)
        emit("MODBUS-TCP " + m_mbap.address);
    return true;
}

bool Simulator::makeLink()
{
    // symlink() never replaces a name: whatever is there already (another
    // simulator's link, a link or file of someone else) stays as it is.
    if (symlink(m_slavePath.c_str(), m_opt.link.c_str()) != 0) {
        if (errno == EEXIST)
            fprintf(stderr, "tl02-sim: --link %s: it exists already, and tl02-sim replaces nothing it did "
                            "not make (another simulator's link?); remove it or choose another path\n",
                    m_opt.link.c_str());
        else
            fprintf(stderr, "tl02-sim: symlink %s: %s\n", m_opt.link.c_str(), strerror(errno));
        return false;
    }
    struct stat st;
    if (lstat(m_opt.link.c_str(), &st) == 0) {
        m_linkDev = st.st_dev;
        m_linkIno = st.st_ino;
    }
    m_linkMade = true;
    return true;
}

void Simulator::removeLink()
{
    if (!m_linkMade)
        return;
    m_linkMade = false;
    // Only the link this run made, still pointing at its pty: one put there
    // since (after someone removed this one) belongs to someone else.
    struct stat st;
    char target[4096];
    const ssize_t n = readlink(m_opt.link.c_str(), target, sizeof target - 1);
    if (n < 0 || lstat(m_opt.link.c_str(), &st) != 0)
        return;
    target[n] = '\0';
    if (S_ISLNK(st.st_mode) && st.st_dev == m_linkDev && st.st_ino == m_linkIno && m_slavePath == target)
        unlink(m_opt.link.c_str());
}

bool Simulator::listenOn(Line &l, long port)
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, m_opt.listen.c_str(), &a.sin_addr);
    const int one = 1;
    socklen_t len = sizeof a;
    if (s < 0 || setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0
        || bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(s, 4) != 0
        || getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        fprintf(stderr, "tl02-sim: %s listener on %s:%ld: %s\n", l.name, m_opt.listen.c_str(), port,
                strerror(errno));
        if (s >= 0)
            close(s);
        return false;
    }
    l.listenFd = s;
    l.address = m_opt.listen + ":" + std::to_string(ntohs(a.sin_port));
    return true;
}

void Simulator::acceptClient(Line &l)
{
    const int c = accept4(l.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (c < 0)
        return;
    // One client at a time: the newest wins, as when a master reconnects
    // before the old connection is noticed to be gone.
    if (l.fd >= 0)
        dropClient(l, "replaced by a new connection");
    const int one = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    l.fd = c;
    l.lastRx = nowNs();
    fprintf(stderr, "tl02-sim: %s client connected\n", l.name);
}

void Simulator::dropClient(Line &l, const char *why)
{
    fprintf(stderr, "tl02-sim: %s client dropped: %s\n", l.name, why);
    close(l.fd);
    l.fd = -1;
    l.raw.insert(l.raw.end(), l.rx.begin(), l.rx.end());
    l.rx.clear();
    flushRaw(l);
    l.outPending = false;
}

void Simulator::flushRaw(Line &l)
{
    if (!l.raw.empty()) {
        log("RAW " + toHex(l.raw.data(), l.raw.size()));
        l.raw.clear();
    }
}

void Simulator::readLine(Line &l)
{
    uint8_t buf[1024];
    while (l.fd >= 0) {
        const ssize_t n = read(l.fd, buf, sizeof buf);
        if (n > 0) {
            l.rx.insert(l.rx.end(), buf, buf + n);
            l.lastRx = nowNs();
            if (l.mbap)
                parseMbap(l);
            else
                parseRx(l);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (l.socket && (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)))
            dropClient(l, n == 0 ? "closed by the client" : strerror(errno));
        break;   // EAGAIN, or on the pty EIO while nobody holds the slave
    }
}

void Simulator::parseRx(Line &l)
{
    while (!l.rx.empty()) {
        const int len = requestLength(l.rx.data(), l.rx.size());
        if (len < 0) {
            // No request starts here: this byte is line noise or text.
            l.raw.push_back(l.rx.front());
            l.rx.erase(l.rx.begin());
            if (l.raw.size() >= kRawLimit)
                flushRaw(l);
            continue;
        }
        if (len == 0 || l.rx.size() < size_t(len))
            break;   // wait for the rest, or for the silence that ends it
        flushRaw(l);
        std::vector<uint8_t> frame(l.rx.begin(), l.rx.begin() + len);
        l.rx.erase(l.rx.begin(), l.rx.begin() + len);
        onFrame(l, frame.data(), frame.size(), l.lastRx, frame.size(), nullptr);
    }
}

// Modbus TCP: the MBAP length delimits each request, however the stream is cut.
void Simulator::parseMbap(Line &l)
{
    while (l.fd >= 0 && l.rx.size() >= 7) {
        const size_t length = size_t((l.rx[4] << 8) | l.rx[5]);
        if (length < 2 || length > kMbapLengthLimit) {
            // Without a usable length the stream cannot be followed: a gateway hangs up.
            dropClient(l, "bad MBAP length");
            return;
        }
        if (l.rx.size() < 6 + length)
            break;
        const std::vector<uint8_t> adu(l.rx.begin(), l.rx.begin() + 6 + length);
        l.rx.erase(l.rx.begin(), l.rx.begin() + 6 + length);

        // The request as the device would get it on its serial line: the unit
        // id as address, the PDU and a CRC, checked by the same request rules.
        std::vector<uint8_t> frame(adu.begin() + 6, adu.end());
        appendCrc(frame);
        if (adu[2] != 0 || adu[3] != 0 || requestLength(frame.data(), frame.size()) != int(frame.size())) {
            // Another protocol, or no whole request the device knows: not answered.
            log("RAW " + toHex(adu.data(), adu.size()));
            continue;
        }
        onFrame(l, frame.data(), frame.size(), l.lastRx, adu.size(), adu.data());
    }
}

bool Simulator::takeFault(std::vector<Fault> &faults, uint8_t function, Fault &out)
{
    bool chosen = false;
    for (Fault &f : faults) {
        if (!f.appliesTo(function))
            continue;
        if (f.skip > 0) {
            --f.skip;
            continue;
        }
        if (!chosen && f.count != 0) {
            out = f;
            chosen = true;
            if (f.count > 0)
                --f.count;
        }
    }
    std::vector<Fault> left;
    for (const Fault &f : faults)
        if (f.count != 0)
            left.push_back(f);
    faults.swap(left);
    return chosen;
}

// A request in RTU form (address, PDU, CRC) has arrived on line l. wireLen is
// its size as it came (for pacing); mbap is its MBAP header on Modbus TCP.
void Simulator::onFrame(Line &l, const uint8_t *f, size_t n, int64_t at, size_t wireLen, const uint8_t *mbap)
{
    const std::string hex = toHex(f, n);
    const std::string addressTag = tag(f[0]);
    if (!crcMatches(f, n)) {
        log("RXBAD " + addressTag + hex);
        return;
    }
    std::vector<Drop *> reached;
    for (Drop &d : m_drops)
        if (d.dev.accepts(f[0]))
            reached.push_back(&d);
    if (reached.empty()) {
        log("RXOTHER " + addressTag + hex);
        return;
    }
    log("RX " + addressTag + hex);
    if (m_babbleNs > 0) {
        // The transmitter jams the line: nothing is carried out or answered.
        fprintf(stderr, "tl02-sim: babbling, request not answered\n");
        return;
    }
    if (l.outPending) {
        // Still busy with the previous answer: a single-buffer device misses this one.
        fprintf(stderr, "tl02-sim: busy, request ignored\n");
        return;
    }

    // Every detector the frame reaches carries it out (a broadcast reaches
    // them all); what each would send back is collected.
    struct Answer {
        std::vector<uint8_t> reply;
        Fault fault{};
        bool faulty = false;
    };
    std::vector<Answer> answers;
    for (Drop *d : reached) {
        Answer a;
        a.faulty = d->dev.answers(f, n) && takeFault(d->faults, f[1], a.fault);
        if (a.faulty && a.fault.kind == FaultKind::Exception) {
            // The device refuses the request: nothing is carried out.
            a.reply = {f[0], uint8_t(f[1] | 0x80), uint8_t(a.fault.param)};
            appendCrc(a.reply);
        } else {
            const std::string deviceTag = tag(d->dev.address());
            std::vector<std::string> events;
            auto r = d->dev.handle(f, n, events);
            for (const std::string &e : events) {
                // "CMD 6060" becomes "CMD @5 6060".
                const size_t space = e.find(' ');
                log(space == std::string::npos ? e : e.substr(0, space + 1) + deviceTag + e.substr(space + 1));
            }
            if (!r)
                continue;
            a.reply = std::move(*r);
        }
        if (a.faulty && a.fault.kind == FaultKind::NoReply) {
            fprintf(stderr, "tl02-sim: fault: reply withheld\n");
            continue;
        }
        answers.push_back(std::move(a));
    }
    if (answers.empty())
        return;
    if (answers.size() > 1) {
        // Two transmitters at once on RS-485 garble each other. Rather than
        // make up what the master would hear, nothing goes out; the line is
        // set up wrong either way.
        fprintf(stderr, "tl02-sim: %zu devices answer address %d at once, their replies collide: none is sent\n",
                answers.size(), int(f[0]));
        return;
    }
    std::vector<uint8_t> reply = std::move(answers.front().reply);
    const Fault fault = answers.front().fault;
    const bool faulty = answers.front().faulty;

    Outgoing out;
    out.paced = m_opt.pace;
    out.start = at + m_opt.turnaroundMs * kMs + (m_opt.pace ? wireNs(wireLen) : 0);
    out.tag = addressTag;
    if (faulty) {
        switch (fault.kind) {
        case FaultKind::NoReply:
            break;   // dealt with above
        case FaultKind::BadCrc:
            if (!mbap)
                reply.back() ^= 0xFF;
            break;
        case FaultKind::Split:
            out.gapNs = fault.param * kMs;
            break;
        case FaultKind::Delay:
            out.start += fault.param * kMs;
            break;
        case FaultKind::Short:
            if (!mbap)
                reply.resize(2);
            break;
        case FaultKind::Fewer:
            // A well-formed answer that simply carries fewer registers than asked for.
            if ((reply[1] == 3 || reply[1] == 4) && reply[2] / 2 > fault.param) {
                reply.resize(3 + 2 * size_t(fault.param));
                reply[2] = uint8_t(2 * fault.param);
                appendCrc(reply);
            }
            break;
        case FaultKind::Mismatch: {
            reply.resize(reply.size() - 2);
            switch (reply[1]) {
            case 3: case 4:
                reply[2] = 0xFE;   // claims more data than follows
                break;
            case 6: case 16: {
                const uint16_t s = uint16_t(((reply[2] << 8) | reply[3]) + 1);
                reply[2] = uint8_t(s >> 8);
                reply[3] = uint8_t(s & 0xFF);
                break;
            }
            case 14: {
                const uint16_t s = uint16_t(((reply[4] << 8) | reply[5]) + 1);
                reply[4] = uint8_t(s >> 8);
                reply[5] = uint8_t(s & 0xFF);
                break;
            }
            case 43:
                reply[3] = 3;
                break;
            case 20: case 21:
                reply[3] = 0x0F;
                break;
            default:
                fprintf(stderr, "tl02-sim: fault: no mismatch form for this reply\n");
                break;
            }
            appendCrc(reply);
            break;
        }
        case FaultKind::Exception:
            break;
        }
    }
    if (mbap) {
        reply = toMbap(mbap, reply);
        if (faulty && fault.kind == FaultKind::BadCrc) {
            // No CRC to spoil: the length no longer fits the bytes that follow.
            const uint16_t length = uint16_t(((reply[4] << 8) | reply[5]) + 1);
            reply[4] = uint8_t(length >> 8);
            reply[5] = uint8_t(length & 0xFF);
        } else if (faulty && fault.kind == FaultKind::Short) {
            reply.resize(8);   // header and function code; the rest never comes
        }
    }
    if (faulty && fault.kind == FaultKind::Split)
        out.split = reply.size() / 2;
    out.bytes = std::move(reply);
    l.out = std::move(out);
    l.outPending = true;
    serviceOutput(l);
}

void Simulator::serviceOutput(Line &l)
{
    if (!l.outPending)
        return;
    Outgoing &o = l.out;
    const int64_t now = nowNs();
    if (now < o.due(o.sent))
        return;
    if (!o.logged) {
        log("TX " + o.tag + toHex(o.bytes.data(), o.bytes.size()));
        o.logged = true;
    }
    size_t end = o.sent;
    while (end < o.bytes.size() && o.due(end) <= now)
        ++end;
    while (o.sent < end) {
        const ssize_t w = write(l.fd, o.bytes.data() + o.sent, end - o.sent);
        if (w > 0) {
            o.sent += size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (l.socket && w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            dropClient(l, strerror(errno));
            return;
        }
        // Nobody is draining the line: give up on this reply after a while.
        if (now - o.due(o.sent) > kStuckOutputNs) {
            fprintf(stderr, "tl02-sim: reply dropped, line not read\n");
            l.outPending = false;
        }
        return;
    }
    if (o.sent >= o.bytes.size())
        l.outPending = false;
}

void Simulator::startBabble(long long ms)
{
    m_babbleNs = ms * kMs;
    m_babbleNext = nowNs();
    // A jammed transmitter sends nothing else: replies on their way are lost.
    for (Line *l : m_lines)
        l->outPending = false;
    fprintf(stderr, "tl02-sim: fault: babble every %lld ms\n", ms);
}

void Simulator::stopBabble()
{
    if (m_babbleNs == 0)
        return;
    m_babbleNs = 0;
    fprintf(stderr, "tl02-sim: babble stopped\n");
}

// One 0xFF on every line once its time has come. A byte that does not fit
// (a pty nobody reads, a client that does not read and whose send buffer is
// full) is dropped rather than waited for.
void Simulator::babble(int64_t now)
{
    if (m_babbleNs == 0 || now < m_babbleNext)
        return;
    static const uint8_t ff = 0xFF;
    for (Line *l : m_lines) {
        if (l->fd < 0)
            continue;
        ssize_t w;
        do {
            w = write(l->fd, &ff, 1);
        } while (w < 0 && errno == EINTR);
        if (w < 0 && l->socket && errno != EAGAIN && errno != EWOULDBLOCK)
            dropClient(*l, strerror(errno));
    }
    // Stay on the grid of the first byte; after a stall start a new one
    // instead of catching up with a burst.
    m_babbleNext += m_babbleNs;
    if (m_babbleNext <= now)
        m_babbleNext = now + m_babbleNs;
}

void Simulator::readStdin()
{
    char buf[1024];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
        // End of input is not a reason to stop: only quit or a signal is.
        m_stdinOpen = false;
        return;
    }
    if (n < 0)
        return;
    for (ssize_t i = 0; i < n; ++i) {
        const char c = buf[i];
        if (c == '\n') {
            if (m_discardingLine) {
                emit("ERR " + m_stdinBuf + "...");
                m_discardingLine = false;
            } else {
                if (!m_stdinBuf.empty() && m_stdinBuf.back() == '\r')
                    m_stdinBuf.pop_back();
                command(m_stdinBuf);
            }
            m_stdinBuf.clear();
            if (m_quit)
                return;
        } else if (!m_discardingLine) {
            m_stdinBuf.push_back(c);
            if (m_stdinBuf.size() > kLineLimit) {
                m_stdinBuf.resize(32);
                m_discardingLine = true;
            }
        }
    }
}

bool Simulator::dumpFlash(const Device &dev, std::string &err)
{
    if (m_opt.dump.empty()) {
        err = "no --dump file";
        return false;
    }
    const std::vector<uint8_t> image = dev.appImage();
    FILE *f = fopen(m_opt.dump.c_str(), "wb");
    if (!f) {
        err = strerror(errno);
        return false;
    }
    const bool ok = image.empty() || fwrite(image.data(), 1, image.size(), f) == image.size();
    return (fclose(f) == 0) && ok;
}

void Simulator::command(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> tok;
    for (std::string t; in >> t;)
        tok.push_back(t);
    if (tok.empty())
        return;

    const std::string ok = "OK " + line;
    const std::string err = "ERR " + line;

    // "@N ..." is for the detector at address N; without it, the first one.
    Drop *target = &m_drops.front();
    const bool prefixed = tok[0][0] == '@';
    if (prefixed) {
        long long n = -1;
        target = nullptr;
        if (parseNumber(tok[0].substr(1), n)) {
            for (Drop &d : m_drops) {
                if (d.dev.address() == n) {
                    target = &d;
                    break;
                }
            }
        }
        tok.erase(tok.begin());
        if (!target || tok.empty()) {
            emit(err);
            return;
        }
    }
    Device &dev = target->dev;
    auto num = [&](size_t i, long long lo, long long hi, long long &out) {
        return i < tok.size() && parseNumber(tok[i], out) && out >= lo && out <= hi;
    };
    long long a = 0, b = 0, c = 0;

    if (tok[0] == "fault" && tok.size() >= 2) {
        const std::string &kind = tok[1];
        if ((kind == "clear" || kind == "off") && tok.size() == 2) {
            if (prefixed) {
                target->faults.clear();
            } else {
                for (Drop &d : m_drops)
                    d.faults.clear();
                stopBabble();
            }
            emit(ok);
            return;
        }
        if (kind == "babble") {
            // The jammed transmitter is the line's, not a detector's.
            if (prefixed || tok.size() != 3 || !num(2, 1, 600000, a)) {
                emit(err);
                return;
            }
            startBabble(a);
            emit(ok);
            return;
        }
        Fault f{};
        size_t next = 2;
        if (kind == "noreply") {
            f.kind = FaultKind::NoReply;
        } else if (kind == "badcrc") {
            f.kind = FaultKind::BadCrc;
        } else if (kind == "short") {
            f.kind = FaultKind::Short;
        } else if (kind == "mismatch") {
            f.kind = FaultKind::Mismatch;
        } else if (kind == "split" || kind == "delay" || kind == "exception" || kind == "fewer") {
            f.kind = kind == "split" ? FaultKind::Split
                   : kind == "delay" ? FaultKind::Delay
                   : kind == "fewer" ? FaultKind::Fewer : FaultKind::Exception;
            const long long hi = f.kind == FaultKind::Exception ? 255 : f.kind == FaultKind::Fewer ? 125 : 600000;
            if (!num(2, 0, hi, a)) {
                emit(err);
                return;
            }
            f.param = a;
            next = 3;
        } else {
            emit(err);
            return;
        }
        if (!num(next, -1, 1LL << 40, b) || tok.size() > next + 2) {
            emit(err);
            return;
        }
        f.count = b;
        if (tok.size() == next + 2) {
            if (!num(next + 1, 0, 1LL << 40, c)) {
                emit(err);
                return;
            }
            f.skip = c;
        }
        if (f.count != 0)
            target->faults.push_back(f);
        emit(ok);
        return;
    }

    if (tok[0] == "set" && tok.size() >= 3) {
        if (tok[1] == "input" && tok.size() == 4 && num(2, 0, kInputCount - 1, a) && num(3, 0, 65535, b)) {
            dev.setInput(int(a), uint16_t(b));
            emit(ok);
            return;
        }
        if (tok[1] == "holding" && tok.size() == 4 && num(2, kHoldingFirst, kHoldingLast, a)
            && num(3, 0, 65535, b)) {
            dev.setHolding(uint16_t(a), uint16_t(b));
            emit(ok);
            return;
        }
        if (tok[1] == "type" && tok.size() == 3 && num(2, 0, 65535, a)) {
            dev.setType(uint16_t(a));
            emit(ok);
            return;
        }
        if (tok[1] == "ident" && num(2, 0, kIdentCount - 1, a)) {
            // The text is the rest of the line after the object id.
            size_t pos = line.find("ident");
            pos = line.find_first_not_of(" \t", pos + 5);
            pos = line.find_first_of(" \t", pos);
            std::string text;
            if (pos != std::string::npos) {
                pos = line.find_first_not_of(" \t", pos);
                if (pos != std::string::npos)
                    text = line.substr(pos);
            }
            dev.setIdent(int(a), text);
            emit(ok);
            return;
        }
        emit(err);
        return;
    }

    if (tok[0] == "live" && tok.size() == 2 && num(1, 0, kInputCount - 1, a)) {
        dev.setLive(int(a));
        emit(ok);
        return;
    }

    if (tok[0] == "get" && tok.size() == 3) {
        if (tok[1] == "holding" && num(2, kHoldingFirst, kHoldingLast, a)) {
            char text[64];
            snprintf(text, sizeof text, "HOLDING %04X %u", unsigned(a), unsigned(dev.holding(uint16_t(a))));
            emit(text);
            emit(ok);
            return;
        }
        if (tok[1] == "input" && num(2, 0, kInputCount - 1, a)) {
            char text[64];
            snprintf(text, sizeof text, "INPUT %d %u", int(a), unsigned(dev.sampleInput(int(a))));
            emit(text);
            emit(ok);
            return;
        }
        emit(err);
        return;
    }

    if (tok[0] == "dump" && tok.size() == 1) {
        std::string why;
        if (dumpFlash(dev, why)) {
            emit(ok);
        } else {
            fprintf(stderr, "tl02-sim: dump: %s\n", why.c_str());
            emit(err);
        }
        return;
    }

    if (tok[0] == "quit" && tok.size() == 1 && !prefixed) {
        shutdown();
        emit(ok);
        m_quit = true;
        return;
    }
    emit(err);
}

void Simulator::shutdown()
{
    if (!m_opt.dump.empty()) {
        std::string why;
        if (!dumpFlash(m_drops.front().dev, why))
            fprintf(stderr, "tl02-sim: dump: %s\n", why.c_str());
    }
    removeLink();
}

int Simulator::run()
{
    sigset_t block, waitMask;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGINT);
    sigprocmask(SIG_BLOCK, &block, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);

    // What each polled descriptor is.
    enum Role { Data, Listener, Stdin };
    struct Watched {
        Role role;
        Line *line;
    };

    while (!m_quit && !g_stop) {
        int64_t now = nowNs();
        int64_t deadline = -1;
        auto consider = [&](int64_t t) {
            if (deadline < 0 || t < deadline)
                deadline = t;
        };

        if (m_babbleNs > 0)
            consider(m_babbleNext);

        pollfd fds[8];
        Watched what[8];
        int nfds = 0;
        for (Line *l : m_lines) {
            if (l->outPending) {
                // Wake a little early; the last stretch is slept on an absolute deadline.
                consider(l->out.due(l->out.sent) - 2 * kMs);
            }
            if (!l->mbap && (!l->rx.empty() || !l->raw.empty()))
                consider(l->lastRx + kRawGapNs);
            if (l->fd >= 0) {
                fds[nfds] = {l->fd, short(POLLIN), 0};
                if (l->outPending && now >= l->out.due(l->out.sent))
                    fds[nfds].events |= POLLOUT;   // blocked on a full line
                what[nfds++] = {Data, l};
            }
            if (l->listenFd >= 0) {
                fds[nfds] = {l->listenFd, short(POLLIN), 0};
                what[nfds++] = {Listener, l};
            }
        }
        if (m_stdinOpen) {
            fds[nfds] = {STDIN_FILENO, short(POLLIN), 0};
            what[nfds++] = {Stdin, nullptr};
        }

        timespec ts{};
        timespec *timeout = nullptr;
        if (deadline >= 0) {
            const int64_t wait = std::max<int64_t>(0, deadline - now);
            ts.tv_sec = time_t(wait / 1000000000);
            ts.tv_nsec = long(wait % 1000000000);
            timeout = &ts;
        }
        const int rc = ppoll(fds, nfds_t(nfds), timeout, &waitMask);
        if (rc < 0 && errno != EINTR) {
            fprintf(stderr, "tl02-sim: poll: %s\n", strerror(errno));
            break;
        }
        if (g_stop)
            break;
        for (int i = 0; rc > 0 && i < nfds && !m_quit; ++i) {
            const short ev = fds[i].revents;
            switch (what[i].role) {
            case Data:
                // A closed or failed socket shows as hang-up; its read says which.
                if ((ev & POLLIN) || (what[i].line->socket && (ev & (POLLHUP | POLLERR))))
                    readLine(*what[i].line);
                break;
            case Listener:
                if (ev & POLLIN)
                    acceptClient(*what[i].line);
                break;
            case Stdin:
                if (ev & (POLLIN | POLLHUP | POLLERR))
                    readStdin();
                if (ev & POLLNVAL)
                    m_stdinOpen = false;
                break;
            }
        }
        if (m_quit)
            break;

        babble(nowNs());
        for (Line *l : m_lines) {
            now = nowNs();
            if (!l->mbap && (!l->rx.empty() || !l->raw.empty()) && now - l->lastRx >= kRawGapNs) {
                // Silence after bytes that made no request: show them as they came.
                l->raw.insert(l->raw.end(), l->rx.begin(), l->rx.end());
                l->rx.clear();
                flushRaw(*l);
            }
            if (l->outPending) {
                const int64_t due = l->out.due(l->out.sent);
                if (due > now && due - now <= 2 * kMs)
                    sleepUntil(due);
                serviceOutput(*l);
            }
        }
    }
    if (!m_quit)
        shutdown();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    if (!parseArgs(argc, argv, opt)) {
        usage(stderr);
        return 2;
    }

    // The parent as it is now, before asking to be told of its end.
    const pid_t parent = getppid();

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

#ifdef __linux__
    // A simulator never outlives whoever started it (a test that crashed or
    // was killed): its end arrives as SIGTERM, which cleans up as "quit"
    // does.  Linux sends this when the thread that forked us ends; every
    // starter here forks from its main thread.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
    if (getppid() != parent)
        return 0;   // the parent ended before the request above took hold

    Simulator sim(opt);
    if (!sim.open())
        return 1;
    return sim.run();
}
