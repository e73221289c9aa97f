"""An outside tester: python3-scapy's DoIP socket and UDS layer drive the
simulated diagnostic manager served by velmora-doip.

usage: /usr/bin/python3 doip_scapy_test.py RUNNER CONFIG

Starts RUNNER on a free port, waits (bounded) until it listens, then over one
DoIP connection: the programming session, the SecurityAccess unlock with a key
computed here from the configuration's "KeyCalculation", the tester
fingerprint, reads, and the download and check of the DPT and one logical
block of a package the runner built and signed with the key its sandbox
trusts (it writes the package's wire form to a file it names). Stops the
runner at the end. Exit code 0 when every
answer was the expected one, 1 at the first that was not.
"""

import json
import logging
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

try:
    from scapy.contrib.automotive.doip import DoIP, DoIPSocket
    from scapy.contrib.automotive.uds import UDS, UDS_DSC, UDS_RDBI, UDS_SA, UDS_WDBI
    from scapy.packet import Raw
except ImportError as error:
    sys.exit("python3-scapy is missing for %s (scripts/setup installs it): %s" % (sys.executable, error))

TESTER = 0x0E80
ENTITY = 0x1001
STARTUP_BOUND = 60.0
ANSWER_BOUND = 15.0
TOTAL_BOUND = 150

FINGERPRINT = bytes.fromhex("240315" "000000123456")
# Two pieces of the configured transfer size, so that the sequence counter moves.
PACKAGE = "blocks=0x01:6000"


class Mismatch(Exception):
    pass


def expect(what, actual, wanted):
    if actual != wanted:
        raise Mismatch("%s: got %r, expected %r" % (what, actual, wanted))
    print("ok   %s" % what)


# ---- the key, computed apart from the product -------------------------------

def tester_key(seed, operations):
    """The SecurityAccess key of a 32-bit seed under a "KeyCalculation" text:
    hex bytes, each an operation on a 32-bit accumulator that starts as the seed:
    81 rotate left, 82 rotate right (carry = the bit moved round), 87 W xor,
    93 W add (carry = overflow), 84 W subtract (carry = borrow), where W is the
    next four bytes, most significant first; 6B N skip N bytes; 4A N skip N
    bytes unless the carry is set; 68 N repeat until 49 N times; 4C the end."""
    text = operations if len(operations) % 2 == 0 else "0" + operations
    p = bytes.fromhex(text)
    if not p:
        raise ValueError("empty operation list")
    acc, carry, pc, steps, loops = seed & 0xFFFFFFFF, False, 0, 0, []

    def word(at):
        return struct.unpack(">I", p[at:at + 4])[0]

    while pc < len(p) and p[pc] != 0x4C:
        steps += 1
        if steps > 1000000:
            raise ValueError("operation limit")
        if pc + 1 >= len(p):
            raise ValueError("operation without its argument")
        code = p[pc]
        if code in (0x84, 0x87, 0x93) and pc + 6 > len(p):
            raise ValueError("operation without its four argument bytes")
        if code == 0x81:
            carry = bool(acc >> 31)
            acc = ((acc << 1) | (acc >> 31)) & 0xFFFFFFFF
            pc += 1
        elif code == 0x82:
            carry = bool(acc & 1)
            acc = (acc >> 1) | ((acc & 1) << 31)
            pc += 1
        elif code == 0x87:
            acc ^= word(pc + 1)
            carry = False
            pc += 5
        elif code == 0x93:
            acc += word(pc + 1)
            carry = acc > 0xFFFFFFFF
            acc &= 0xFFFFFFFF
            pc += 5
        elif code == 0x84:
            operand = word(pc + 1)
            carry = acc < operand
            acc = (acc - operand) & 0xFFFFFFFF
            pc += 5
        elif code == 0x6B:
            pc += 2 + p[pc + 1]
        elif code == 0x4A:
            pc += 2 if carry else 2 + p[pc + 1]
        elif code == 0x68:
            if p[pc + 1] == 0:
                raise ValueError("loop of zero rounds")
            loops.append([pc + 2, p[pc + 1]])
            pc += 2
        elif code == 0x49:
            if not loops:
                raise ValueError("loop end without loop")
            loops[-1][1] -= 1
            if loops[-1][1] > 0:
                pc = loops[-1][0]
            else:
                loops.pop()
                pc += 1
        else:
            raise ValueError("unknown operation 0x%02X" % code)
    return acc


def find_key_calculation(node):
    if isinstance(node, dict):
        for key, value in node.items():
            if key == "KeyCalculation":
                return value
            found = find_key_calculation(value)
            if found is not None:
                return found
    elif isinstance(node, list):
        for value in node:
            found = find_key_calculation(value)
            if found is not None:
                return found
    return None


# ---- the runner -------------------------------------------------------------

class Runner:
    def __init__(self, path):
        self.lines = []
        self.port = None
        self.package = None
        self.listening = threading.Event()
        self.process = subprocess.Popen([path, "0", "--package", PACKAGE], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        text=True, errors="replace")
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        # Drains the output all along, so the runner never blocks on a full pipe.
        for line in self.process.stdout:
            self.lines.append(line.rstrip("\n"))
            if line.startswith("package "):
                self.package = line[len("package "):].strip()
            if line.startswith("listening on 127.0.0.1:"):
                self.port = int(line.rsplit(":", 1)[1])
                self.listening.set()

    def wait_listening(self, bound):
        deadline = time.monotonic() + bound
        while time.monotonic() < deadline and self.process.poll() is None:
            if self.listening.wait(0.1):
                return True
        return False

    def stop(self):
        """SIGTERM, then the exit code within a bound (None when it had to be killed)."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            code = self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=10)
            code = None
        self.reader.join(timeout=5)
        return code

    def tail(self, count=40):
        return "\n".join(self.lines[-count:])


# ---- DoIP through scapy -----------------------------------------------------

def receive(sock):
    """One whole DoIP message from the stream, dissected by scapy's DoIP layer.
    Read by its header's length: an acknowledgement and the response that
    follows it may arrive in one segment."""
    def exact(size):
        data = b""
        while len(data) < size:
            piece = sock.ins.recv(size - len(data))
            if not piece:
                raise Mismatch("the entity closed the connection")
            data += piece
        return data

    header = exact(8)
    (length,) = struct.unpack(">I", header[4:8])
    if length > 1 << 16:
        raise Mismatch("a message of %d bytes announced" % length)
    return DoIP(header + exact(length))


def shown(frame, limit=24):
    text = frame[:limit].hex(" ")
    return text if len(frame) <= limit else "%s ... (%d bytes)" % (text, len(frame))


def uds(sock, request, what):
    """Sends a UDS request as a diagnostic message; checks the positive ack
    and returns the UDS response."""
    sock.send(DoIP(payload_type=0x8001, source_address=TESTER, target_address=sock.target_address) / request)
    ack = receive(sock)
    expect(what + ": acknowledged", (ack.payload_type, ack.source_address, ack.target_address, ack.ack_code),
           (0x8002, ENTITY, TESTER, 0))
    answer = receive(sock)
    expect(what + ": response addressed", (answer.payload_type, answer.source_address, answer.target_address),
           (0x8001, ENTITY, TESTER))
    response = answer[UDS]
    print("     %s -> %s" % (shown(bytes(request)), shown(bytes(response))))
    return response


def download(sock, block, transfer_size, what):
    """RequestDownload, TransferData in pieces of the transfer size,
    TransferExit and the 0x0202 check of one block, as a tester sends them."""
    address = bytes.fromhex(block["address"])
    payload = bytes.fromhex(block["payload"])
    signature = bytes.fromhex(block["signature"])
    expect(what + ": size announced is the payload's", block["size"], len(payload))
    if not 1 <= len(address) <= 4 or transfer_size <= 0 or not payload:
        raise Mismatch("%s: address %r, transfer size %d, %d bytes cannot be downloaded"
                       % (what, block["address"], transfer_size, len(payload)))

    request = bytes([0x34, 0x00, 0x40 | len(address)]) + address + struct.pack(">I", block["size"])
    response = uds(sock, Raw(request), what + ": request download")
    expect(what + ": download accepted", bytes(response), bytes.fromhex("74 20 0f fd"))

    pieces = [payload[at:at + transfer_size] for at in range(0, len(payload), transfer_size)]
    for number, piece in enumerate(pieces, start=1):
        counter = number & 0xFF
        response = uds(sock, Raw(bytes([0x36, counter]) + piece), "%s: transfer data %d" % (what, number))
        expect("%s: piece %d taken" % (what, number), bytes(response), bytes([0x76, counter]))

    response = uds(sock, Raw(bytes([0x37])), what + ": transfer exit")
    expect(what + ": transfer ended", bytes(response), bytes.fromhex("77"))

    response = uds(sock, Raw(bytes.fromhex("31 01 02 02") + signature), what + ": check memory")
    expect(what + ": signature verified", bytes(response), bytes.fromhex("71 01 02 02 00"))


def session(port, operations, package):
    sock = DoIPSocket(ip="127.0.0.1", port=port, activate_routing=True, source_address=TESTER)
    try:
        sock.ins.settimeout(ANSWER_BOUND)
        expect("routing activated, the entity's address learned", getattr(sock, "target_address", None), ENTITY)

        response = uds(sock, UDS() / UDS_DSC(diagnosticSessionType=0x02), "programming session")
        expect("programming session", bytes(response), bytes.fromhex("50 02 00 32 01 f4"))

        response = uds(sock, UDS() / UDS_SA(securityAccessType=0x11), "seed")
        expect("seed answered", (response.service, response.securityAccessType, len(response.securitySeed)),
               (0x67, 0x11, 4))
        seed = struct.unpack(">I", response.securitySeed)[0]
        key = struct.pack(">I", tester_key(seed, operations))
        response = uds(sock, UDS() / UDS_SA(securityAccessType=0x12, securityKey=key), "key")
        expect("unlocked", bytes(response), bytes.fromhex("67 12"))

        response = uds(sock, UDS() / UDS_WDBI(dataIdentifier=0xF15A) / Raw(FINGERPRINT), "fingerprint")
        expect("fingerprint written", bytes(response), bytes.fromhex("6e f1 5a"))

        response = uds(sock, UDS() / UDS_RDBI(identifiers=[0x0102]), "read of the update state")
        expect("update state idle", bytes(response), bytes.fromhex("62 01 02 00"))
        response = uds(sock, UDS() / UDS_RDBI(identifiers=[0xF187]), "read of the spare part number")
        expect("spare part number answered", bytes(response)[:3], bytes.fromhex("62 f1 87"))

        # The entity refuses a target it does not know, and the socket stays.
        sock.send(DoIP(payload_type=0x8001, source_address=TESTER, target_address=0x2000) / UDS() / UDS_RDBI(
            identifiers=[0x0102]))
        nack = receive(sock)
        expect("unknown target refused", (nack.payload_type, nack.nack_code), (0x8003, 0x03))
        response = uds(sock, UDS() / UDS_RDBI(identifiers=[0x0102]), "read after the refusal")
        expect("still served", bytes(response), bytes.fromhex("62 01 02 00"))

        transfer_size = package["transfer_size"]
        download(sock, package["dpt"], transfer_size, "DPT")
        for block in package["blocks"]:
            download(sock, block, transfer_size, "block " + block["address"])
    finally:
        sock.close()


def too_long(*_):
    raise Mismatch("the test took longer than %d s" % TOTAL_BOUND)


def main(argv):
    if len(argv) != 3:
        print(__doc__)
        return 2
    # The whole run is bounded, whatever hangs.
    signal.signal(signal.SIGALRM, too_long)
    signal.alarm(TOTAL_BOUND)
    logging.getLogger("scapy").setLevel(logging.ERROR)

    with open(argv[2]) as config:
        operations = find_key_calculation(json.load(config))
    if not operations:
        print("FAIL no KeyCalculation in %s" % argv[2])
        return 1

    runner = Runner(argv[1])
    failure = None
    try:
        if not runner.wait_listening(STARTUP_BOUND):
            raise Mismatch("the runner did not listen within %d s" % STARTUP_BOUND)
        print("runner listening on port %d" % runner.port)
        # The runner names its package before it listens.
        if runner.package is None:
            raise Mismatch("the runner named no package file")
        with open(runner.package) as description:
            package = json.load(description)
        if not package.get("blocks"):
            raise Mismatch("the package %s lists no block to download" % runner.package)
        session(runner.port, operations, package)
    except (Mismatch, OSError, ValueError) as error:
        failure = str(error)
    finally:
        code = runner.stop()
        signal.alarm(0)
    if failure is None and code != 0:
        failure = "the runner ended with %r" % code
    if failure is not None:
        print("FAIL %s\n--- runner output (end) ---\n%s" % (failure, runner.tail()))
        return 1
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
