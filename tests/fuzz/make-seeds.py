#!/usr/bin/python3
"""Writes the hand-made seeds of the fuzz targets into corpus/<target>/.

The targets read their input through libFuzzer's FuzzedDataProvider, which
takes texts and byte runs from the front of the input and numbers from its
end; Input below lays out an input the same way, so each seed reads as the
program it drives. Run it again after changing how a target reads its input.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


class Input:
    def __init__(self):
        self.front = bytearray()
        self.back = []  # bytes in the order they are consumed from the end

    def int_in(self, lo, hi, value, bits=64):
        assert lo <= value <= hi
        span, offset, n = hi - lo, 0, 0
        while offset < bits and (span >> offset) > 0:
            offset += 8
            n += 1
        v = value - lo
        for i in range(n):
            self.back.append((v >> (8 * (n - 1 - i))) & 0xFF)

    def u(self, value, bits=64):
        self.int_in(0, (1 << bits) - 1, value, bits)

    def i(self, value, bits=32):
        self.int_in(-(1 << (bits - 1)), (1 << (bits - 1)) - 1, value, bits)

    def bool(self, b):
        self.int_in(0, 255, 1 if b else 0, 8)

    def text(self, data, max_length):
        data = data.encode() if isinstance(data, str) else data
        assert len(data) < max_length
        self.front += data.replace(b"\\", b"\\\\") + b"\\ "

    def raw(self, data):
        self.front += data

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# ---- fuzz_exports --------------------------------------------------------------
# Mirrors fuzz_exports.cpp: one step is an operation number and its operands.
OP = dict(cpu=0, lists=1, procs=2, singles=3, counts=4, clock=5, interval=6, filter=7,
          kill=8, cleanup=9, init=10, snapshot=11, read_singles=13, processes=14, tree=15,
          histories=16, disks_net=17, platform=18)
FIELD = dict(cpu_name=128, proc_name=128, command=1024, user=64, status=32, disk_name=64,
             mount=256, fs=32, net_name=64, ip=64, gpu_name=128, driver=64, bat_status=32,
             hostname=128, os=128, kernel=128, boot_time=32, cpu_arch=32)


class Program(Input):
    def op(self, name):
        self.int_in(0, 18, OP[name], 32)

    def field(self, value, size):
        value = value.encode() if isinstance(value, str) else value
        if not value:
            self.int_in(0, 3, 0, 32)
        elif len(value) >= size:  # the whole field, no NUL
            self.int_in(0, 3, 1, 32)
            self.raw(value[:size])
        else:
            self.int_in(0, 3, 2, 32)
            self.text(value, size)

    def double(self, value):
        if isinstance(value, float) and 0.0 <= value <= 100.0:
            self.int_in(0, 3, 0, 32)
            self.u(int(value / 100.0 * (2**64 - 1)))
        else:  # exact bits: NaN, infinities, anything
            self.int_in(0, 3, 1, 32)
            self.u(struct.unpack("<Q", struct.pack("<d", float(value)))[0])

    def pid(self, value):
        if value == -2**31:
            self.int_in(0, 9, 0, 32)
        elif value == 2**31 - 1:
            self.int_in(0, 9, 1, 32)
        elif -2 <= value <= 12:
            self.int_in(0, 9, 3, 32)
            self.int_in(-2, 12, value, 32)
        else:
            self.int_in(0, 9, 2, 32)
            self.i(value)

    def process(self, pid, ppid, name, cpu=1.0, memory=4096, command=None, user="root",
                status="running", threads=1):
        self.pid(pid)
        self.bool(ppid == pid)
        if ppid != pid:
            self.pid(ppid)
        self.field(name, FIELD["proc_name"])
        if command is None:
            command = (b"/usr/bin/" if isinstance(name, bytes) else "/usr/bin/") + name
        self.field(command, FIELD["command"])
        self.field(user, FIELD["user"])
        self.field(status, FIELD["status"])
        self.double(cpu)
        self.u(memory)
        self.double(0.5)
        self.i(threads)
        for v in (10, 20, 30, 40, 70):
            self.u(v)

    def processes(self, procs, beyond_capacity=False, stride=1):
        self.op("procs")
        self.int_in(0, 24, len(procs))
        for p in procs:
            self.process(*p)
        self.int_in(0, 15, 0 if beyond_capacity else 1, 32)
        if beyond_capacity and procs:
            self.int_in(1, 5, stride, 32)

    def cpu(self, name, per_core, count=None, cores=4, threads=8, total=12.5):
        self.op("cpu")
        self.field(name, FIELD["cpu_name"])
        self.i(cores)
        self.i(threads)
        self.double(total)
        self.double(2400.0)
        n = len(per_core) if count is None else count
        if -1 <= n <= 16:
            self.int_in(0, 3, 2, 32)
            self.int_in(-1, 16, n, 32)
        else:
            self.int_in(0, 3, 0, 32)
            self.i(n)
        for v in per_core:
            self.bool(True)
            self.double(v)
        self.bool(False)
        self.double(55.0)

    def lists(self, disks, nets, beyond_capacity=False):
        self.op("lists")
        self.int_in(0, 4, len(disks))
        for name, mount, fs in disks:
            self.field(name, FIELD["disk_name"])
            self.field(mount, FIELD["mount"])
            self.field(fs, FIELD["fs"])
            for v in (1 << 40, 1 << 39, 1 << 39, 5000, 7000):
                self.u(v)
        self.int_in(0, 15, 0 if beyond_capacity else 1, 32)
        self.int_in(0, 4, len(nets))
        for name, ip in nets:
            self.field(name, FIELD["net_name"])
            self.field(ip, FIELD["ip"])
            for v in (100, 200, 1 << 33, 1 << 34):
                self.u(v)
        self.int_in(0, 15, 0 if beyond_capacity else 1, 32)

    def singles(self, texts):
        self.op("singles")
        self.bool(False)
        for v in (16 << 30, 8 << 30, 8 << 30, 1 << 30, 4 << 30, 1 << 20):
            self.u(v)
        self.field(texts.get("gpu_name", "Radeon"), FIELD["gpu_name"])
        self.double(3.0)
        self.u(8 << 30)
        self.u(1 << 30)
        self.double(48.0)
        self.field(texts.get("driver", "amdgpu"), FIELD["driver"])
        self.double(float("nan"))
        self.i(1)
        self.i(87)
        self.field(texts.get("bat_status", "Discharging"), FIELD["bat_status"])
        self.i(95)
        self.double(7.25)
        self.i(100)
        self.field(texts.get("hostname", "host"), FIELD["hostname"])
        self.field(texts.get("os", "Linux"), FIELD["os"])
        self.field(texts.get("kernel", "6.1.0"), FIELD["kernel"])
        self.u(123456)
        self.field(texts.get("boot_time", "2026-12-08T10:00:00Z"), FIELD["boot_time"])
        self.field(texts.get("cpu_arch", "x86_64"), FIELD["cpu_arch"])

    def counts(self, which, disks, nets, procs, value=None):
        self.op("counts")
        self.int_in(0, 4, which, 32)
        if which == 4:
            self.i(value)
        self.bool(disks)
        self.bool(nets)
        self.bool(procs)

    def clock(self, kind, a=0, b=0):
        self.op("clock")
        self.int_in(0, 4, kind, 32)
        if kind in (0, 1, 2):
            self.int_in(0, 3000000000, a)
        elif kind == 3:
            self.i(a, 64)
            self.int_in(0, 999999999, b, 32)
        else:
            self.i(a, 64)
            self.i(b, 32)

    def interval(self, ms):
        self.op("interval")
        self.i(ms)

    def filter(self, kind, text=""):
        self.op("filter")
        self.int_in(0, 3, kind, 32)
        if kind == 2:
            self.int_in(100, 5000, len(text))
        elif kind == 3:
            self.text(text, 200)

    def kill(self, result, error, pid):
        self.op("kill")
        self.int_in(0, 3, result, 32)
        self.u(error)
        self.i(pid)

    def read(self, name, *args):
        self.op(name)
        if name == "processes":
            self.int_in(-2, 60, args[0], 32)
            self.int_in(-1, 5, args[1], 32)
        elif name == "tree":
            self.int_in(-2, 60, args[0], 32)
        elif name == "histories":
            self.int_in(-2, 9, args[0], 32)
            self.bool(False)
            self.int_in(-1, 310, args[1], 32)


def exports_seeds():
    family = [(1, 0, "init", 0.5), (2, 1, "sshd", 2.0), (3, 2, "bash", 0.0), (4, 3, "vim", 7.5),
              (5, 1, "cron", 0.1), (6, 6, "self", 1.0), (7, 8, "loop-a", 3.0), (8, 7, "loop-b", 3.0),
              (9, 12, "orphan", 9.0), (9, 1, "duplicate", 9.0)]

    p = Program()
    p.bool(True)  # well-formed texts
    p.cpu("Intel(R) Core(TM) i7 \u00b5\u00e9 \u4e2d", [10.0, 20.0, 30.0, 40.0])
    p.singles({"hostname": "h\u00f6st-\U0001f600", "driver": "tab\there \"quoted\" back\\slash"})
    p.lists([("sda1", "/", "ext4"), ("C:", "C:\\", "NTFS")], [("eth0", "10.0.0.2"), ("wlan\u00e4", "0.0.0.0")])
    p.processes(family)
    p.read("snapshot")
    p.clock(0, 1000000000)
    p.read("snapshot")
    p.read("read_singles")
    p.read("processes", 5, 3)
    p.read("processes", 0, 0)
    p.read("tree", 0)
    p.read("tree", 2)
    p.read("histories", 0, 10)
    p.read("histories", 7, 300)
    p.read("disks_net")
    p.kill(3, 1, 4242)
    p.read("platform")
    write("fuzz_exports", "seed-well-formed", p.bytes())

    p = Program()
    p.bool(False)  # arbitrary bytes in texts
    p.cpu(b"\xff\xfe\x01\x1f\"\\" + b"\xc3" * 200, [float("nan"), float("inf"), -float("inf"), 1e308])
    p.singles({"hostname": b"\x00", "driver": b"\x7f\x80\x81\n\r\b\f", "os": b"x" * 200,
               "boot_time": b"\xe2\x82", "cpu_arch": b"\xf4\x90\x80\x80"})
    p.lists([(b"\xff" * 64, b"/\x01\x02", b"")], [(b"e\xc0\xaf", b"999.1.2.3")])
    p.processes([(1, 0, b"\x1b[31mred", float("nan"), 1, b"\xed\xa0\x80", b"\xff" * 70, b"\x00"),
                 (2, 1, b"n" * 130, -0.0, 2**64 - 1, b"c" * 1100, b"u" * 64, b"s" * 32),
                 (3, 3, b"\\\"", float("-inf"), 0)])
    p.read("snapshot")
    p.read("read_singles")
    p.read("processes", 0, 1)
    p.read("tree", 0)
    p.filter(3, b"\xc3")
    p.read("processes", 0, 2)
    p.read("disks_net")
    write("fuzz_exports", "seed-arbitrary-bytes", p.bytes())

    p = Program()
    p.bool(True)
    p.processes(family)
    p.filter(3, "LOOP")
    p.read("tree", 0)
    p.filter(2, "a" * 300)
    p.read("tree", 1)
    p.filter(1)
    p.read("tree", 3)
    p.filter(0)
    p.processes([(i, i + 1, "chain", float(i)) for i in range(1, 13)])
    p.read("tree", 0)
    p.processes(family[:3], beyond_capacity=True, stride=1)
    p.read("tree", 0)
    p.read("processes", 50, 1)
    write("fuzz_exports", "seed-tree", p.bytes())

    p = Program()
    p.bool(True)
    p.cpu("many", [1.0], count=513, threads=2**31 - 1)
    p.lists([("d", "/d", "xfs")], [("n", "1.2.3.4")], beyond_capacity=True)
    p.processes(family[:4], beyond_capacity=True, stride=3)
    p.read("snapshot")
    p.counts(1, True, True, True)
    p.read("snapshot")
    p.read("processes", 0, 0)
    p.counts(0, True, True, True)
    p.read("snapshot")
    p.read("tree", 0)
    p.counts(3, False, False, True)
    p.read("tree", -1)
    p.cpu("negative", [], count=-1)
    p.read("snapshot")
    p.read("histories", 2, 310)
    p.read("histories", 8, 5)
    write("fuzz_exports", "seed-counts", p.bytes())

    p = Program()
    p.bool(True)
    p.cpu("clock", [50.0, 50.0])
    p.interval(-5)
    p.read("snapshot")
    p.clock(2, 3000000000)
    p.read("snapshot")
    p.clock(3, 2**63 - 1, 999999999)
    p.read("snapshot")
    p.clock(3, -2**63, 0)
    p.read("snapshot")
    p.clock(4, 12345, -2**31)
    p.interval(2**31 - 1)
    p.read("snapshot")
    p.op("cleanup")
    p.interval(1)
    p.read("histories", 0, 300)
    p.op("init")
    p.op("init")
    p.clock(0, 50000000)
    p.read("snapshot")
    p.clock(0, 60000000)
    p.read("read_singles")
    p.kill(1, 5, 7)
    p.kill(0, 0, -3)
    p.kill(2, 2**64 - 1, 2**31 - 1)
    p.op("cleanup")
    p.op("cleanup")
    p.read("histories", 1, 1)
    write("fuzz_exports", "seed-clock", p.bytes())


# ---- fuzz_process_sweep ---------------------------------------------------------
BLOCK = 0x520000000000  # FIXED_BLOCK_ADDRESS


def sweep_seeds():
    def entry(next_offset, threads, pid, ppid, name_at, name_bytes, suspended=False):
        e = bytearray(0x100)
        struct.pack_into("<II", e, 0, next_offset, threads)
        struct.pack_into("<QQ", e, 0x28, 200000, 100000)  # user, kernel time
        struct.pack_into("<HHxxxxQ", e, 0x38, name_bytes, name_bytes, BLOCK + name_at if name_bytes else 0)
        struct.pack_into("<Q", e, 0x50, pid)
        struct.pack_into("<Q", e, 0x58, ppid)
        struct.pack_into("<Q", e, 0x90, 1 << 20)
        struct.pack_into("<QQ", e, 0xE8, 4096, 8192)
        for _ in range(threads):
            t = bytearray(0x50)
            struct.pack_into("<II", t, 0x44, 5 if suspended else 2, 5 if suspended else 0)
            e += t
        return e

    header = struct.pack("<HxxxxxxdQ", 40, 1.0, 16 << 30)
    name1 = "System".encode("utf-16-le")
    name2 = "caf\u00e9 \U0001f600.exe".encode("utf-16-le")
    e0 = entry(0, 0, 0, 0, 0, 0)
    size0 = len(e0)
    e1_len = 0x100 + 2 * 0x50
    names_at = size0 + e1_len + 0x100 + 0x50
    e1 = entry(e1_len, 2, 4, 0, names_at, len(name1))
    e2 = entry(0, 1, 1234, 4, names_at + len(name1), len(name2), suspended=True)
    e0[0:4] = struct.pack("<I", size0)
    block = bytes(e0 + e1 + e2) + name1 + name2
    write("fuzz_process_sweep", "seed-three-processes", header + block)
    # An unpaired surrogate in a name, and a name address outside the block.
    bad = "x\ud800y".encode("utf-16-le", "surrogatepass")
    e0 = entry(0x100, 0, 8, 4, 0x100 + 0x100 + 3 * 0x50, len(bad))
    e1 = entry(0, 3, 9, 8, 0x1000000, 6)
    write("fuzz_process_sweep", "seed-odd-names", header + bytes(e0 + e1) + bad)


# ---- fuzz_utf8_text --------------------------------------------------------------

def utf8_seeds():
    units = "a\u00e9\u4e2d\U0001f600".encode("utf-16-le") + b"\x00\xd8" + b"\x00\xdc" + b"\x00\x00z\x00"
    for mode, out_size in ((0, 8), (1, 9)):
        p = Input()
        p.int_in(0, 2, mode, 32)
        p.int_in(0, 3000, out_size)
        p.raw(units)
        write("fuzz_utf8_text", "seed-convert-%d" % mode, p.bytes())
    p = Input()
    p.int_in(0, 2, 2, 32)
    p.int_in(0, 300, 6)
    p.int_in(0, 400, 5)
    p.bool(True)
    p.raw("\u00e9\u4e2d\U0001f600ab".encode())
    write("fuzz_utf8_text", "seed-cuts", p.bytes())


# ---- fuzz_strbuf -----------------------------------------------------------------

def strbuf_seeds():
    p = Input()
    p.int_in(0, 3, 0, 32)
    p.raw(b"plain \"quoted\" back\\slash \x01\x1f\x7f \xc3\xa9 \xff")
    write("fuzz_strbuf", "seed-escape", p.bytes())
    p = Input()
    p.int_in(0, 3, 1, 32)
    p.u(5, 16)
    p.raw(b"ab\ncdefgh")
    write("fuzz_strbuf", "seed-bounded", p.bytes())
    p = Input()
    p.int_in(0, 3, 2, 32)
    for value in (float("nan"), -0.0, 0.125, 1e308, -2.5e-9, 0.005):
        p.int_in(0, 2, 2, 32)
        p.int_in(-3, 12, 2, 32)
        p.u(struct.unpack("<Q", struct.pack("<d", value))[0])
    p.int_in(0, 2, 0, 32)
    p.i(-2**63, 64)
    p.int_in(0, 2, 1, 32)
    p.u(2**64 - 1)
    write("fuzz_strbuf", "seed-numbers", p.bytes())


# ---- fuzz_net_rows and fuzz_disk_roots -----------------------------------------

def window(p, elapsed):
    # ConsumeFloatingPoint<double>: a half of the range, then a fraction of it.
    half = 1.7976931348623157e308
    p.bool(elapsed >= 0)
    fraction = abs(elapsed) / half if elapsed >= 0 else (half - abs(elapsed)) / half
    p.u(int(fraction * (2**64 - 1)))


def net_seeds():
    p = Input()
    p.int_in(-4, 72, 3, 32)
    window(p, 0.5)
    p.bool(True)
    p.int_in(0, 300, 2, 32)
    for luid, address in ((1, 0x0200000A), (2, 0x0101A8C0)):
        p.int_in(0, 40, luid)
        p.u(address, 32)
    rows = [(1, 6, 1, 1000, 2000, "Ethernet é", True), (1, 6, 1, 5, 6, "duplicate", False),
            (2, 24, 1, 9, 9, "loopback", True), (3, 71, 2, 0, 0, b"down \xff\xfe" * 20, False),
            (7, 71, 2, 1, 0, "d" * 100, False)]
    for luid, kind, state, received, sent, name, utf16 in rows:
        p.bool(True)
        p.int_in(0, 40, luid)
        p.bool(kind == 24)
        if kind != 24:
            p.u(kind, 32)
        p.int_in(0, 7, state, 32)
        p.u(received)
        p.u(sent)
        data = name.encode("utf-16-le") if utf16 else (name.encode() if isinstance(name, str) else name)
        p.text(data, 700)
        p.bool(utf16)
    write("fuzz_net_rows", "seed-rows", p.bytes())


def disk_seeds():
    for name, from_units, roots in (
            ("seed-units", True, "C:\\\0D:\\\0é:\\\0\0".encode("utf-16-le")),
            ("seed-bytes", False, b"C:\\\0\xff:\0no-nul-at-the-end")):
        p = Input()
        p.int_in(-4, 40, 2, 32)
        window(p, 1.0)
        p.int_in(1, 8, 2)
        for accepted in (True, False):
            p.int_in(0, 3, 1 if accepted else 0, 32)
            p.u(1 << 40)
            p.bool(True)  # free: a third of the total
            p.bool(True)  # the file-system name was read
            p.text("NTFS".encode("utf-16-le"), 80)
            p.bool(True)
            p.u(1 << 20)
            p.u(1 << 21)
        p.bool(from_units)
        p.raw(roots)
        write("fuzz_disk_roots", name, p.bytes())


# ---- the Linux parsers ------------------------------------------------------------

def linux_seeds():
    write("fuzz_linux_proc_stat", "seed-stat",
          b"cpu  4705 356 584 3699 23 23 0 0 0 0\n"
          b"cpu0 1393280 32966 572056 13343292 6130 0 17875 0 23 7\n"
          b"cpu3 1 2 3 4\n"
          b"cpu999999999999 1 2 3 4 5 6 7 8 9 10 11\n"
          b"intr 1462898\nctxt 115315\nbtime 1733650000\nprocesses 2563\n")
    write("fuzz_linux_cpuinfo", "seed-cpuinfo",
          "processor\t: 0\nmodel name\t: Intel(R) Xeon(R) \u00b5 CPU @ 2.20GHz\ncpu MHz\t\t: 2200.154\n"
          "physical id\t: 0\ncore id\t\t: 0\n\nprocessor\t: 1\nmodel name\t: other\n"
          "cpu MHz\t\t: 18446744073709551615.999999999999\nphysical id\t: 0\ncore id\t\t: 1\n\n"
          "Hardware\t: BCM2835\nProcessor\t: ARMv7\n".encode())
    write("fuzz_linux_meminfo", "seed-meminfo",
          b"MemTotal:       16314372 kB\nMemFree:         1228300 kB\nMemAvailable:   99999999999999999999 kB\n"
          b"Cached:          7038700 kB\nSReclaimable:     404392 kB\nSwapTotal:       2097148 kB\n"
          b"SwapFree:        3097148 kB\n")
    for i, line in enumerate((
            b"36 35 98:0 /mnt1 /mnt/with\\040space rw,noatime master:1 - ext3 /dev/root rw,errors=continue",
            b"29 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw",
            b"40 29 0:35 / /tmp/\\303\\251\\777\\1 rw - tmpfs tmpfs rw,size=8g")):
        write("fuzz_linux_mountinfo", "seed-line-%d" % i, line)
    for i, line in enumerate((b"   8       0 sda 5216 1611 414470 3268 8 0 0 0 0 2740 3268",
                              b" 259 0 nvme0n1 18446744073709551616 0 1 0 2 0 3 0 0 0 0 0 0 0 0 0 0")):
        write("fuzz_linux_diskstats", "seed-row-%d" % i, line)
    for i, line in enumerate((
            b"Inter-|   Receive                                                |  Transmit",
            b"  eth0: 1125404 8744 0 0 0 0 0 0 1094436 7961 0 0 0 0 0 0",
            b"wlan\xc3\xa4:1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16")):
        write("fuzz_linux_net_dev", "seed-row-%d" % i, line)

    def pid_input(which, text, command_size=1024, name_size=128):
        p = Input()
        p.int_in(0, 3, which, 32)
        p.bool(command_size == 1024)
        if command_size != 1024:
            p.int_in(0, 40, command_size)
        p.bool(name_size == 128)
        if name_size != 128:
            p.int_in(0, 20, name_size)
        p.raw(text)
        return p.bytes()

    write("fuzz_linux_pid_files", "seed-stat",
          pid_input(0, b"1234 (a (weird) name\xff) S 1 1234 1234 0 -1 4194560 100 0 0 0 25 7 0 0 20 0 3 0 "
                       b"4123 12345678 850 18446744073709551615 1 1 0 0"))
    write("fuzz_linux_pid_files", "seed-stat-small-fields",
          pid_input(0, b"7 (kworker/0:1-events) I 2 0 0 0 -1 69238880 0 0 0 0 0 9 0 0 20 0 1", 5, 3))
    write("fuzz_linux_pid_files", "seed-status", pid_input(1, b"Name:\tbash\nUid:\t1000\t1000\t1000\t1000\n"))
    write("fuzz_linux_pid_files", "seed-io", pid_input(2, b"rchar: 1\nread_bytes: 4096\nwrite_bytes: 8192\n"))
    write("fuzz_linux_pid_files", "seed-cmdline",
          pid_input(3, b"/usr/lib/a-very-long-program-name\0--flag\0\xe2\x82\0\0", 20, 10))

    p = Input()
    p.bool(True)
    p.i(-62135596800 - 1, 64)
    p.text("x86_64", 80)
    p.raw(b"NAME=Debian\nPRETTY_NAME=\"Debian GNU/Linux 12 \\\"bookworm\\\"\"\n")
    write("fuzz_linux_system_facts", "seed-os-release", p.bytes())
    p = Input()
    p.bool(False)
    p.int_in(0, 24, 7)
    p.i(2**63 - 1, 64)
    p.text("i686", 80)
    p.raw(b"12345.67 54321.00\n")
    write("fuzz_linux_system_facts", "seed-uptime", p.bytes())

    for name, current, mains in (("seed-discharging", "-1500000", False),
                                 ("seed-most-negative-current", "-9223372036854775809", False),
                                 ("seed-mains", "garbage", True)):
        p = Input()
        p.bool(True)
        p.bool(mains)
        p.bool(mains)
        p.text("57\n", 300)
        p.text("Discharging\n", 300)
        p.bool(True)
        for value in ("", "", "3000000", current, "11000000", "", "", "4000000", "5000000"):
            p.text(value + "\n", 300)
        write("fuzz_linux_sys_battery", name, p.bytes())

    p = Input()
    p.int_in(0, 300, 9)
    p.raw("ab\u00e9\u4e2d\U0001f600".encode() + b"\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80\xff")
    write("fuzz_linux_text_utf8", "seed-mixed", p.bytes())


exports_seeds()
sweep_seeds()
net_seeds()
disk_seeds()
linux_seeds()
utf8_seeds()
strbuf_seeds()
