#!/usr/bin/env python3
"""A round-trip delay for loopback benchmarks: a TCP relay on 127.0.0.1 that holds the bytes of
each direction for half the round trip before passing them on, as a distant relay would.

    delay_proxy.py <target port> <round trip ms>

Listens on a free loopback port, prints it on the first line of stdout, then serves until it is
stopped (SIGTERM or SIGINT). Each accepted connection gets one connection to 127.0.0.1:<target
port>. Bytes keep their order; the delay is added to each chunk as it arrives, so a stream that
flows continuously is delayed, not slowed.
"""
import asyncio
import signal
import socket
import sys
import time


async def pump(reader, writer, delay):
    queue = asyncio.Queue()

    async def forward():
        while True:
            item = await queue.get()
            if item is None:
                break
            due, data = item
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        try:
            writer.write_eof()
        except (OSError, RuntimeError):
            pass

    sender = asyncio.ensure_future(forward())
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            queue.put_nowait((time.monotonic() + delay, data))
    except OSError:
        pass
    queue.put_nowait(None)
    try:
        await sender
    except OSError:
        pass


async def serve(target_port, delay):
    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        except OSError:
            client_writer.close()
            return
        for w in (client_writer, server_writer):
            sock = w.get_extra_info("socket")
            if sock is not None:
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            await asyncio.gather(pump(client_reader, server_writer, delay),
                                 pump(server_reader, client_writer, delay))
        except asyncio.CancelledError:  # the proxy is stopping
            pass
        client_writer.close()
        server_writer.close()

    server = await asyncio.start_server(handle, "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    async with server:
        await stop.wait()


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: delay_proxy.py <target port> <round trip ms>")
    asyncio.run(serve(int(sys.argv[1]), float(sys.argv[2]) / 2000.0))


if __name__ == "__main__":
    main()
