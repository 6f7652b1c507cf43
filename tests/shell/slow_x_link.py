#!/usr/bin/python3
"""A slow link to an X server, as a loaded desktop gives its programs.

Usage: slow_x_link.py SOCKET DELAY_MS [--lifetime SECONDS]

Listens on 127.0.0.1 on a port of the system's choosing and prints that port on a line of its own.
Each connection made there is carried to the X server's Unix socket SOCKET; every chunk, either
way, arrives DELAY_MS late and in order. Stops when its standard input closes or after the lifetime.
"""
import argparse
import asyncio
import sys


async def carry(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        try:
            while True:
                due, data = await queue.get()
                if not data:
                    break
                pause = due - loop.time()
                if pause > 0:
                    await asyncio.sleep(pause)
                writer.write(data)
                await writer.drain()
        except ConnectionError:
            pass
        writer.close()

    delivery = asyncio.create_task(deliver())
    try:
        while data := await reader.read(1 << 16):
            queue.put_nowait((loop.time() + delay, data))
    except ConnectionError:
        pass
    queue.put_nowait((0, b""))
    await delivery


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("socket")
    parser.add_argument("delay_ms", type=float)
    parser.add_argument("--lifetime", type=float, default=120)
    args = parser.parse_args()
    delay = args.delay_ms / 1000

    async def connected(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_unix_connection(args.socket)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(carry(client_reader, server_writer, delay), carry(server_reader, client_writer, delay))

    server = await asyncio.start_server(connected, "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)

    loop = asyncio.get_running_loop()
    stdin_closed = loop.create_future()

    def read_stdin():
        if not sys.stdin.buffer.read1(4096) and not stdin_closed.done():
            stdin_closed.set_result(None)

    loop.add_reader(sys.stdin.fileno(), read_stdin)
    try:
        await asyncio.wait_for(stdin_closed, args.lifetime)
    except asyncio.TimeoutError:
        pass
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
