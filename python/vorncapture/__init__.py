# SPDX-License-Identifier: MIT
"""Screens, windows, cameras and microphones as NumPy frames and audio blocks.

    import vorncapture
    for source in vorncapture.sources():
        print(source)
    with vorncapture.open("desktop", fps=30) as stream:
        frame = stream.grab()
        print(frame.array.shape, frame.time, frame.sequence)

Every stream is an iterator (``for frame in stream``) and an asynchronous one
(``async for frame in stream``); ``grab()`` takes one unit. Waiting never holds the
interpreter's lock. A source that goes away raises ``SourceLost``.
"""

import asyncio as _asyncio

from ._vorncapture import _testing  # noqa: F401 (the virtual world's controls, for tests)
from ._vorncapture import (  # noqa: F401
    AudioBlock,
    Frame,
    Source,
    SourceLost,
    Stream,
    open,
    sources,
    world,
)

__all__ = ["AudioBlock", "Frame", "Source", "SourceLost", "Stream", "open", "sources", "world"]


def _next_or_end(stream):
    try:
        return next(stream)
    except StopIteration:
        raise StopAsyncIteration from None


async def _anext(self):
    """The next frame or block, waited for on a worker thread of the running loop."""
    loop = _asyncio.get_running_loop()
    return await loop.run_in_executor(None, _next_or_end, self)


async def _aenter(self):
    return self


async def _aexit(self, *exc):
    self.close()
    return False


Stream.__aiter__ = lambda self: self
Stream.__anext__ = _anext
Stream.__aenter__ = _aenter
Stream.__aexit__ = _aexit
