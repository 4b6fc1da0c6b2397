"""A link with a round trip, for the mail benchmarks (not a test).

DelayLink listens on a free loopback port and relays every connection to
127.0.0.1:target, holding each piece of data for half the round trip in
each direction, in order, as a provider 20-100 ms away would. Opening a
connection costs one round trip too (the relay connects onward only after
it), as TCP's handshake does. Nothing leaves loopback; nothing is changed.
Throughput is not limited: the benchmark counts round trips, not bytes.

    with DelayLink(target_port, rtt_ms=50) as link:
        ... connect to 127.0.0.1:link.port ...

Bounded in time: a connection that stays idle for IDLE_S seconds is closed,
and the relay's thread ends with the with block.
"""
import asyncio
import socket
import threading
import time

# A benchmark's connection never sits idle this long; one that does is stuck.
IDLE_S = 60
# Bytes read at once; a TLS record is at most about 16 KiB.
PIECE = 65536


class DelayLink:
    def __init__(self, target_port, rtt_ms):
        self.target_port = target_port
        self.half = rtt_ms / 2000.0
        self.port = None
        self._loop = asyncio.new_event_loop()
        self._ready = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self._thread.start()
        if not self._ready.wait(10):
            raise RuntimeError("delay link did not start")
        return self

    def __exit__(self, *exc):
        asyncio.run_coroutine_threadsafe(self._stop(), self._loop)
        self._thread.join(10)

    async def _stop(self):
        """Ends the connections still open, then the loop."""
        tasks = [t for t in asyncio.all_tasks() if t is not asyncio.current_task()]
        for task in tasks:
            task.cancel()
        await asyncio.gather(*tasks, return_exceptions=True)
        self._loop.stop()

    def _run(self):
        asyncio.set_event_loop(self._loop)
        server = self._loop.run_until_complete(
            asyncio.start_server(self._serve, "127.0.0.1", 0))
        self.port = server.sockets[0].getsockname()[1]
        self._ready.set()
        self._loop.run_forever()
        server.close()
        self._loop.close()

    @staticmethod
    def _no_delay(writer):
        sock = writer.get_extra_info("socket")
        if sock is not None:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    async def _serve(self, client_reader, client_writer):
        try:
            await self._relay(client_reader, client_writer)
        except asyncio.CancelledError:  # the link is ending: the connection goes with it
            client_writer.close()

    async def _relay(self, client_reader, client_writer):
        self._no_delay(client_writer)
        try:
            await asyncio.sleep(2 * self.half)  # TCP's handshake
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", self.target_port)
        except OSError:
            client_writer.close()
            return
        self._no_delay(server_writer)
        await asyncio.gather(self._pipe(client_reader, server_writer),
                             self._pipe(server_reader, client_writer), return_exceptions=True)
        for writer in (client_writer, server_writer):
            writer.close()

    async def _pipe(self, reader, writer):
        """Copies reader to writer, each piece half a round trip late."""
        queue = asyncio.Queue()

        async def deliver():
            while True:
                due, data = await queue.get()
                wait = due - time.monotonic()
                if wait > 0:
                    await asyncio.sleep(wait)
                if data is None:
                    if writer.can_write_eof():
                        writer.write_eof()
                    return
                writer.write(data)
                await writer.drain()

        sender = asyncio.ensure_future(deliver())
        try:
            while True:
                data = await asyncio.wait_for(reader.read(PIECE), IDLE_S)
                queue.put_nowait((time.monotonic() + self.half, data or None))
                if not data:
                    break
        except (OSError, asyncio.TimeoutError):
            queue.put_nowait((time.monotonic(), None))
        try:
            await sender
        except OSError:
            pass
