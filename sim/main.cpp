// tl02-sim: a TL-02 detector (and its bootloader) on a pseudo-terminal.
//
// The first stdout line names the pty slave to open; afterwards every frame
// and reply is logged on stdout (unless --quiet) and stdin takes control
// commands (faults, register values, dump, quit). See usage() for options.

#include "device.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <string>
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

struct Options {
    int address = 1;
    long type = 1;
    std::string version = "1.06";
    bool bootloader = false;
    std::string link;
    bool pace = false;
    long turnaroundMs = 0;
    std::string dump;
    bool quiet = false;
};

void usage(FILE *f)
{
    fprintf(f,
            "usage: tl02-sim [options]\n"
            "  --address N        Modbus address it answers at (default 1), 1..255\n"
            "  --type N           value of input register 4 (default 1; 1 and 2 are detectors)\n"
            "  --version TEXT     firmware version text, identification object 2 (default 1.06)\n"
            "  --bootloader       start in bootloader mode\n"
            "  --link PATH        also create a symlink PATH to the pty slave (removed on exit)\n"
            "  --pace             send at 9600 baud wire speed and wait the request's wire time\n"
            "  --turnaround MS    extra delay between request and reply (default 0)\n"
            "  --dump FILE        write the flash image to FILE on exit and on \"dump\"\n"
            "  --quiet            do not log RX/TX lines\n"
            "It ends with the process that started it.\n"
            "\n"
            "control lines on stdin (each answered \"OK <line>\" or \"ERR <line>\"):\n"
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
            "  fault clear        drop all faults\n"
            "  set holding REG V | set input REG V | set type V | set ident ID TEXT\n"
            "  live REG           input REG follows the sensor again\n"
            "  get holding REG | get input REG\n"
            "  dump               write the flash image to the --dump file\n"
            "  quit               remove the --link symlink, write the dump and exit\n");
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
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            exit(0);
        } else {
            fprintf(stderr, "tl02-sim: unknown option %s\n", a.c_str());
            return false;
        }
    }
    return true;
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

    int64_t due(size_t i) const
    {
        int64_t t = start + (paced ? wireNs(i) : 0);
        if (split > 0 && i >= split)
            t += gapNs;
        return t;
    }
};

class Simulator {
public:
    Simulator(const Options &o)
        : m_opt(o), m_dev(uint8_t(o.address), uint16_t(o.type), o.version, o.bootloader) {}

    bool open();
    int run();

private:
    void log(const std::string &line)
    {
        if (!m_opt.quiet)
            emit(line);
    }
    void readPty();
    void parseRx();
    void flushRaw();
    void onFrame(const uint8_t *f, size_t n, int64_t at);
    bool takeFault(uint8_t function, Fault &out);
    void serviceOutput();
    void readStdin();
    void command(const std::string &line);
    bool dumpFlash(std::string &err);
    void shutdown();

    Options m_opt;
    Device m_dev;
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    bool m_linkMade = false;

    std::vector<uint8_t> m_rx;
    std::vector<uint8_t> m_raw;
    int64_t m_lastRx = 0;

    bool m_outPending = false;
    Outgoing m_out;

    std::vector<Fault> m_faults;

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
    if (openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) {
        fprintf(stderr, "tl02-sim: openpty: %s\n", strerror(errno));
        return false;
    }
    // Both ends raw, so that no byte is translated or echoed.
    tcsetattr(m_slave, TCSANOW, &raw);
    tcsetattr(m_master, TCSANOW, &raw);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_slavePath = name;

    if (!m_opt.link.empty()) {
        struct stat st;
        if (lstat(m_opt.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            unlink(m_opt.link.c_str());
        if (symlink(m_slavePath.c_str(), m_opt.link.c_str()) != 0) {
            fprintf(stderr, "tl02-sim: symlink %s: %s\n", m_opt.link.c_str(), strerror(errno));
            return false;
        }
        m_linkMade = true;
    }
    emit("PORT " + m_slavePath);
    return true;
}

void Simulator::flushRaw()
{
    if (!m_raw.empty()) {
        log("RAW " + toHex(m_raw.data(), m_raw.size()));
        m_raw.clear();
    }
}

void Simulator::readPty()
{
    uint8_t buf[1024];
    for (;;) {
        const ssize_t n = read(m_master, buf, sizeof buf);
        if (n > 0) {
            m_rx.insert(m_rx.end(), buf, buf + n);
            m_lastRx = nowNs();
            parseRx();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;   // EAGAIN, or EIO while nobody holds the slave
    }
}

void Simulator::parseRx()
{
    while (!m_rx.empty()) {
        const int len = requestLength(m_rx.data(), m_rx.size());
        if (len < 0) {
            // No request starts here: this byte is line noise or text.
            m_raw.push_back(m_rx.front());
            m_rx.erase(m_rx.begin());
            if (m_raw.size() >= kRawLimit)
                flushRaw();
            continue;
        }
        if (len == 0 || m_rx.size() < size_t(len))
            break;   // wait for the rest, or for the silence that ends it
        flushRaw();
        std::vector<uint8_t> frame(m_rx.begin(), m_rx.begin() + len);
        m_rx.erase(m_rx.begin(), m_rx.begin() + len);
        onFrame(frame.data(), frame.size(), m_lastRx);
    }
}

bool Simulator::takeFault(uint8_t function, Fault &out)
{
    bool chosen = false;
    for (Fault &f : m_faults) {
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
    for (const Fault &f : m_faults)
        if (f.count != 0)
            left.push_back(f);
    m_faults.swap(left);
    return chosen;
}

void Simulator::onFrame(const uint8_t *f, size_t n, int64_t at)
{
    const std::string hex = toHex(f, n);
    if (!crcMatches(f, n)) {
        log("RXBAD " + hex);
        return;
    }
    if (!m_dev.accepts(f[0])) {
        log("RXOTHER " + hex);
        return;
    }
    log("RX " + hex);
    if (m_outPending) {
        // Still busy with the previous answer: a single-buffer device misses this one.
        fprintf(stderr, "tl02-sim: busy, request ignored\n");
        return;
    }

    const bool answers = m_dev.answers(f, n);
    Fault fault{};
    const bool faulty = answers && takeFault(f[1], fault);

    std::vector<uint8_t> reply;
    if (faulty && fault.kind == FaultKind::Exception) {
        // The device refuses the request: nothing is carried out.
        reply = {f[0], uint8_t(f[1] | 0x80), uint8_t(fault.param)};
        appendCrc(reply);
    } else {
        std::vector<std::string> events;
        auto r = m_dev.handle(f, n, events);
        for (const std::string &e : events)
            log(e);
        if (!r)
            return;
        reply = std::move(*r);
    }

    Outgoing out;
    out.paced = m_opt.pace;
    out.start = at + m_opt.turnaroundMs * kMs + (m_opt.pace ? wireNs(n) : 0);
    if (faulty) {
        switch (fault.kind) {
        case FaultKind::NoReply:
            fprintf(stderr, "tl02-sim: fault: reply withheld\n");
            return;
        case FaultKind::BadCrc:
            reply.back() ^= 0xFF;
            break;
        case FaultKind::Split:
            out.split = reply.size() / 2;
            out.gapNs = fault.param * kMs;
            break;
        case FaultKind::Delay:
            out.start += fault.param * kMs;
            break;
        case FaultKind::Short:
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
    out.bytes = std::move(reply);
    m_out = std::move(out);
    m_outPending = true;
    serviceOutput();
}

void Simulator::serviceOutput()
{
    if (!m_outPending)
        return;
    const int64_t now = nowNs();
    if (now < m_out.due(m_out.sent))
        return;
    if (!m_out.logged) {
        log("TX " + toHex(m_out.bytes.data(), m_out.bytes.size()));
        m_out.logged = true;
    }
    size_t end = m_out.sent;
    while (end < m_out.bytes.size() && m_out.due(end) <= now)
        ++end;
    while (m_out.sent < end) {
        const ssize_t w = write(m_master, m_out.bytes.data() + m_out.sent, end - m_out.sent);
        if (w > 0) {
            m_out.sent += size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        // Nobody is draining the line: give up on this reply after a while.
        if (now - m_out.due(m_out.sent) > kStuckOutputNs) {
            fprintf(stderr, "tl02-sim: reply dropped, line not read\n");
            m_outPending = false;
        }
        return;
    }
    if (m_out.sent >= m_out.bytes.size())
        m_outPending = false;
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

bool Simulator::dumpFlash(std::string &err)
{
    if (m_opt.dump.empty()) {
        err = "no --dump file";
        return false;
    }
    const std::vector<uint8_t> image = m_dev.appImage();
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
    auto num = [&](size_t i, long long lo, long long hi, long long &out) {
        return i < tok.size() && parseNumber(tok[i], out) && out >= lo && out <= hi;
    };
    long long a = 0, b = 0, c = 0;

    if (tok[0] == "fault" && tok.size() >= 2) {
        const std::string &kind = tok[1];
        if (kind == "clear" && tok.size() == 2) {
            m_faults.clear();
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
            m_faults.push_back(f);
        emit(ok);
        return;
    }

    if (tok[0] == "set" && tok.size() >= 3) {
        if (tok[1] == "input" && tok.size() == 4 && num(2, 0, kInputCount - 1, a) && num(3, 0, 65535, b)) {
            m_dev.setInput(int(a), uint16_t(b));
            emit(ok);
            return;
        }
        if (tok[1] == "holding" && tok.size() == 4 && num(2, kHoldingFirst, kHoldingLast, a)
            && num(3, 0, 65535, b)) {
            m_dev.setHolding(uint16_t(a), uint16_t(b));
            emit(ok);
            return;
        }
        if (tok[1] == "type" && tok.size() == 3 && num(2, 0, 65535, a)) {
            m_dev.setType(uint16_t(a));
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
            m_dev.setIdent(int(a), text);
            emit(ok);
            return;
        }
        emit(err);
        return;
    }

    if (tok[0] == "live" && tok.size() == 2 && num(1, 0, kInputCount - 1, a)) {
        m_dev.setLive(int(a));
        emit(ok);
        return;
    }

    if (tok[0] == "get" && tok.size() == 3) {
        if (tok[1] == "holding" && num(2, kHoldingFirst, kHoldingLast, a)) {
            char text[64];
            snprintf(text, sizeof text, "HOLDING %04X %u", unsigned(a), unsigned(m_dev.holding(uint16_t(a))));
            emit(text);
            emit(ok);
            return;
        }
        if (tok[1] == "input" && num(2, 0, kInputCount - 1, a)) {
            char text[64];
            snprintf(text, sizeof text, "INPUT %d %u", int(a), unsigned(m_dev.sampleInput(int(a))));
            emit(text);
            emit(ok);
            return;
        }
        emit(err);
        return;
    }

    if (tok[0] == "dump" && tok.size() == 1) {
        std::string why;
        if (dumpFlash(why)) {
            emit(ok);
        } else {
            fprintf(stderr, "tl02-sim: dump: %s\n", why.c_str());
            emit(err);
        }
        return;
    }

    if (tok[0] == "quit" && tok.size() == 1) {
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
        if (!dumpFlash(why))
            fprintf(stderr, "tl02-sim: dump: %s\n", why.c_str());
    }
    if (m_linkMade) {
        unlink(m_opt.link.c_str());
        m_linkMade = false;
    }
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

    while (!m_quit && !g_stop) {
        int64_t now = nowNs();
        int64_t deadline = -1;
        auto consider = [&](int64_t t) {
            if (deadline < 0 || t < deadline)
                deadline = t;
        };
        int64_t outDue = -1;
        if (m_outPending) {
            outDue = m_out.due(m_out.sent);
            // Wake a little early; the last stretch is slept on an absolute deadline.
            consider(outDue - 2 * kMs);
        }
        if (!m_rx.empty() || !m_raw.empty())
            consider(m_lastRx + kRawGapNs);

        pollfd fds[2];
        int nfds = 0;
        fds[nfds++] = {m_master, short(POLLIN), 0};
        if (m_outPending && now >= outDue)
            fds[0].events |= POLLOUT;   // blocked on a full line
        const int stdinIdx = m_stdinOpen ? nfds : -1;
        if (m_stdinOpen)
            fds[nfds++] = {STDIN_FILENO, short(POLLIN), 0};

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
        if (rc > 0) {
            if (fds[0].revents & POLLIN)
                readPty();
            if (stdinIdx >= 0 && (fds[stdinIdx].revents & (POLLIN | POLLHUP | POLLERR)))
                readStdin();
            if (stdinIdx >= 0 && (fds[stdinIdx].revents & POLLNVAL))
                m_stdinOpen = false;
        }
        if (m_quit)
            break;

        now = nowNs();
        if ((!m_rx.empty() || !m_raw.empty()) && now - m_lastRx >= kRawGapNs) {
            // Silence after bytes that made no request: show them as they came.
            m_raw.insert(m_raw.end(), m_rx.begin(), m_rx.end());
            m_rx.clear();
            flushRaw();
        }
        if (m_outPending) {
            const int64_t due = m_out.due(m_out.sent);
            if (due > now && due - now <= 2 * kMs)
                sleepUntil(due);
            serviceOutput();
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
