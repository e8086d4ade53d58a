#!/usr/bin/python3
"""A stand-in for a distant network on loopback: a TCP proxy that holds every chunk a one-way
delay before passing it on, in each direction, optionally paced to a bandwidth per connection
and to one for all connections together towards the clients (the player's line), and can count
the bytes it passes towards the client per 0.1 s and the connections that carried them (for
measuring a download's rate and how many connections kept it up).

    bench/latency_proxy.py --to PORT [--listen PORT] [--delay-ms 25] [--rate-mbps 0] [--line-mbps 0]
                           [--samples FILE]

Prints the port it listens on. Used by bench/network_vs_curl.py; runs until killed.
"""
import argparse
import asyncio
import collections
import signal
import sys
import time

BUCKET = 0.1  # seconds per sample


class Counter:
    """Bytes sent towards clients per BUCKET, and how many connections carried them, written
    out on exit as "seconds bytes connections" lines."""

    def __init__(self, path):
        self.path = path
        self.buckets = collections.Counter()
        self.carriers = collections.defaultdict(set)

    def add(self, count, connection):
        bucket = int(time.monotonic() / BUCKET)
        self.buckets[bucket] += count
        self.carriers[bucket].add(connection)

    def save(self):
        if not self.path:
            return
        with open(self.path, "w") as f:
            for bucket in sorted(self.buckets):
                f.write("%.1f %d %d\n" % (bucket * BUCKET, self.buckets[bucket], len(self.carriers[bucket])))


class Line:
    """One link that every connection's chunks towards the clients share, first come first
    served: a chunk leaves once the chunks before it have passed at rate bytes a second."""

    def __init__(self, rate):
        self.rate = rate
        self.free_at = 0.0

    def passed_at(self, now, size):
        self.free_at = max(self.free_at, now) + size / self.rate
        return self.free_at


async def pipe(reader, writer, delay, rate, counter, line=None):
    """Copies reader to writer, each chunk delivered delay seconds after it came, at most
    rate bytes a second (0: no limit), and through line when given."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def receive():
        while True:
            data = await reader.read(65536)
            queue.put_nowait((loop.time() + delay, data))
            if not data:
                return

    async def deliver():
        free_at = 0.0
        while True:
            due, data = await queue.get()
            if rate and data:
                free_at = max(free_at, due) + len(data) / rate
                due = free_at
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if line and data:
                # Taken only once the chunk is due: a reservation ahead would leave the line
                # idle while other connections' chunks wait behind it.
                wait = line.passed_at(loop.time(), len(data)) - loop.time()
                if wait > 0:
                    await asyncio.sleep(wait)
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()
            if counter:
                counter.add(len(data), id(writer))

    try:
        await asyncio.gather(receive(), deliver())
    except (ConnectionError, OSError, asyncio.CancelledError):
        pass
    finally:
        writer.close()


async def serve(args, counter):
    delay = args.delay_ms / 1000.0
    rate = args.rate_mbps * 1000000 / 8
    line = Line(args.line_mbps * 1000000 / 8) if args.line_mbps else None

    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", args.to)
        except OSError:
            client_writer.close()
            return
        try:
            await asyncio.gather(pipe(client_reader, server_writer, delay, rate, None),
                                 pipe(server_reader, client_writer, delay, rate, counter, line))
        except asyncio.CancelledError:  # the proxy is stopping
            pass

    server = await asyncio.start_server(handle, "127.0.0.1", args.listen, limit=1 << 20)
    print(server.sockets[0].getsockname()[1], flush=True)
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    loop.add_signal_handler(signal.SIGINT, stop.set)
    await stop.wait()
    server.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--to", type=int, required=True, help="the port on 127.0.0.1 to pass connections to")
    parser.add_argument("--listen", type=int, default=0, help="port to listen on (0: any free one)")
    parser.add_argument("--delay-ms", type=float, default=25.0, help="one-way delay, each way")
    parser.add_argument("--rate-mbps", type=float, default=0.0, help="bandwidth each way per connection, 0: none")
    parser.add_argument("--line-mbps", type=float, default=0.0,
                        help="bandwidth towards the clients for all connections together, 0: none")
    parser.add_argument("--samples", help="file for the bytes sent towards clients per 0.1 s")
    args = parser.parse_args()
    counter = Counter(args.samples) if args.samples else None
    try:
        asyncio.run(serve(args, counter))
    finally:
        if counter:
            counter.save()
    sys.exit(0)


if __name__ == "__main__":
    main()
