# SPDX-License-Identifier: MIT
from typing import Iterator, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

class SourceLost(RuntimeError):
    """The source went away (a closed window, an unplugged camera or microphone)."""

class Source:
    """A source that can be opened."""

    @property
    def kind(self) -> str:
        """desktop, window, camera or microphone."""
    @property
    def index(self) -> int:
        """Its index among the sources of its kind."""
    @property
    def name(self) -> str:
        """Its name (a window's title)."""
    @property
    def modes(self) -> List[str]:
        """What it delivers natively, one line per size, format or rate."""

class Frame:
    """One video frame."""

    @property
    def array(self) -> npt.NDArray[np.uint8]:
        """(height, width, 3) BGR or RGB, (height, width, 4) BGRA or BGRx, (height * 3 // 2,
        width) I420. Valid after the next grab and after the stream closed: it owns its memory,
        or (the X screen's BGRx, format "native") is a read-only view that keeps the source's
        memory lent. Native: MJPEG its bytes (1-D), YUY2 (height, width, 2), NV12 and I420
        (height * 3 // 2, width), BGRx/RGBx (height, width, 4), BGR/RGB (height, width, 3)."""
    @property
    def planes(self) -> Tuple[npt.NDArray[np.uint8], ...]:
        """I420: (Y, U, V) views into array; NV12: (Y, UV); other formats: (array,)."""
    @property
    def time(self) -> float:
        """When it was captured, in seconds of the source's clock."""
    @property
    def sequence(self) -> int:
        """Counts the source's frames from 0; a jump means frames were lost. The X screen's:
        rises by one when the screen changed, the same number for the same pixels."""
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def format(self) -> str:
        """The format asked, or for format "native" the source's own (MJPEG, YUY2, ...)."""

class AudioBlock:
    """A block of microphone samples."""

    @property
    def array(self) -> Union[npt.NDArray[np.int16], npt.NDArray[np.float32]]:
        """(samples, channels); float32 in -1.0 to 1.0."""
    @property
    def time(self) -> float:
        """Time of the first sample, in seconds of the source's clock."""
    @property
    def sequence(self) -> int: ...
    @property
    def rate(self) -> int: ...
    @property
    def channels(self) -> int: ...

Unit = Union[Frame, AudioBlock]

class Stream:
    """An open source: an iterator and an asynchronous iterator of its frames or blocks."""

    def grab(self, timeout: Optional[float] = 5.0) -> Unit:
        """The next unit, waiting at most timeout seconds (None: no limit).

        Raises SourceLost when the source went away, TimeoutError when nothing came,
        ValueError when the stream is closed."""
    def close(self) -> None:
        """Closes the stream; safe twice and from any thread."""
    @property
    def closed(self) -> bool: ...
    @property
    def source(self) -> Source: ...
    @property
    def lost(self) -> int:
        """Units the source produced that never reached this stream."""
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def fps(self) -> float: ...
    @property
    def rate(self) -> int: ...
    @property
    def channels(self) -> int: ...
    @property
    def format(self) -> str: ...
    def __iter__(self) -> Iterator[Unit]: ...
    def __next__(self) -> Unit: ...
    def __enter__(self) -> "Stream": ...
    def __exit__(self, *exc: object) -> bool: ...
    def __aiter__(self) -> "Stream": ...
    async def __anext__(self) -> Unit: ...
    async def __aenter__(self) -> "Stream": ...
    async def __aexit__(self, *exc: object) -> bool: ...

def sources(kind: Optional[str] = None, world: str = "auto") -> List[Source]:
    """The sources of kind (desktop, window, camera, microphone; None: every kind).

    world: auto (VORN_WORLD where set, else this machine where it has a display or a sound
    server, else the virtual test world), host or virtual; fixed at the first call."""

def open(
    source: Union[Source, str],
    size: Optional[Sequence[int]] = None,
    fps: Optional[int] = None,
    format: Optional[str] = None,
    *,
    rate: Optional[int] = None,
    channels: Optional[int] = None,
) -> Stream:
    """Opens a source (or the first source of a kind given by name).

    Video: size (width, height) scales the frames (a camera is asked for it first), fps the
    rate, format BGR (default), RGB, BGRA, BGRx, I420 or native (the source's own frames,
    lent as they are: a PipeWire camera's, the X screen's). Microphones: rate, channels, format int16
    (default) or float32."""

def world() -> str:
    """The world in force: host or virtual."""
