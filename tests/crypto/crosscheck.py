#!/usr/bin/python3
"""Checks the big-number driver's results with Python's own integers: pow(a, e, m),
pow(a, -1, m), math.gcd, and deterministic Miller-Rabin for the prime search."""
import math
import subprocess
import sys

ALPHABET = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"


def is_prime(n):
    if n < 2:
        return False
    small = [2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41]
    for p in small:
        if n % p == 0:
            return n == p
    d, s = n - 1, 0
    while d % 2 == 0:
        d, s = d // 2, s + 1
    # These bases decide every n below 3.3e24; above that 40 more make a false answer negligible.
    for a in small + list(range(43, 300, 6)):
        x = pow(a, d, n)
        if x in (1, n - 1):
            continue
        for _ in range(s - 1):
            x = x * x % n
            if x == n - 1:
                break
        else:
            return False
    return True


def radix64(text):
    out, bits, count = bytearray(), 0, 0
    for c in text:
        bits = (bits << 6 | ALPHABET.index(c)) & 0xFFFFFF
        count += 6
        if count >= 8:
            count -= 8
            out.append((bits >> count) & 0xFF)
    return bytes(out)


def key_number(text):
    data = radix64(text)
    return sum(int.from_bytes(data[i:i + 4], "big") << (8 * i) for i in range(0, len(data), 4))


def check_keypair(public, private):
    e_text, n_text = public.split(":")
    n2_text, d_text = private.split(":")
    e, n, d = key_number(e_text), key_number(n_text), key_number(d_text)
    assert n == key_number(n2_text), "moduli differ"
    assert n.bit_length() in (511, 512), n.bit_length()
    assert e >= 50001 and e % 2 == 1, e
    assert len(radix64(d_text)) == 64
    for m in (2, 3, 0xDEADBEEF, n // 3, n - 2):
        assert pow(pow(m, e, n), d, n) == m, "pair does not invert"


def main():
    driver = sys.argv[1]
    failures, checked = 0, 0
    for seed in (1, 2, 3):
        out = subprocess.run([driver, "arithmetic", str(seed), "150"], check=True,
                             capture_output=True, text=True).stdout
        for line in out.splitlines():
            op, *args = line.split()
            checked += 1
            try:
                if op == "keypair":
                    check_keypair(*args)
                    continue
                v = [int(x, 16) for x in args]
                ok = {
                    "add": lambda: v[0] + v[1] == v[2],
                    "sub": lambda: v[0] - v[1] == v[2],
                    "mul": lambda: v[0] * v[1] == v[2],
                    "divmod": lambda: divmod(v[0], v[1]) == (v[2], v[3]),
                    "mulmod": lambda: v[0] * v[1] % v[2] == v[3],
                    "powmod": lambda: pow(v[0], v[1], v[2]) == v[3],
                    "gcd": lambda: math.gcd(v[0], v[1]) == v[2],
                    "inv": lambda: pow(v[0], -1, v[1]) == v[2],
                    "noinv": lambda: math.gcd(v[0], v[1]) != 1,
                    "shr": lambda: v[0] >> 1 == v[1],
                    "nextprime": lambda: v[1] >= v[0] and is_prime(v[1]) and not any(
                        is_prime(x) for x in range(v[0], v[1])),
                }[op]()
            except Exception as error:  # a malformed line is a failure too
                ok = False
                print("error:", error)
            if not ok:
                failures += 1
                print("mismatch (seed %d): %s" % (seed, line[:300]))
    print("%d checked" % checked)
    print("%d passed, %d failed" % (checked - failures, failures))
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
