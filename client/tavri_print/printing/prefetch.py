"""The pages of a job made one page ahead of the printer, on a thread of
their own."""
from __future__ import annotations

import queue
import threading
from typing import Callable, Iterator, List, Optional, Tuple

from .documents import Document
from .render import PageMaker


class Prefetch:
    """Yields the pages in order while a thread makes the next ones, at most
    `ahead` finished pages waiting (0: each page is made when it is due).
    While a page is not ready, `waiting` is called about once a second."""

    def __init__(self, maker: PageMaker, pages: List[Tuple[Document, int]], ahead: int = 1,
                 waiting: Optional[Callable[[], None]] = None):
        self.maker, self.pages, self.ahead = maker, pages, ahead
        self.waiting = waiting or (lambda: None)
        self.stopped = threading.Event()
        self.queue = queue.Queue(maxsize=max(ahead, 1))
        self.thread = None

    def __iter__(self) -> Iterator[Tuple[str, bool]]:
        if self.ahead == 0:
            for index, (doc, number) in enumerate(self.pages, 1):
                yield self.maker.make(index, doc, number)
            return
        self.thread = threading.Thread(target=self._produce, daemon=True)
        self.thread.start()
        for _ in self.pages:
            item = self._next()
            if isinstance(item, BaseException):
                raise item
            yield item

    def _next(self) -> object:
        while True:
            try:
                return self.queue.get(timeout=1)
            except queue.Empty:
                self.waiting()

    def _produce(self) -> None:
        try:
            for index, (doc, number) in enumerate(self.pages, 1):
                if not self._put(self.maker.make(index, doc, number)):
                    return
        except BaseException as error:  # handed to the printing side
            self._put(error)

    def _put(self, item: object) -> bool:
        while not self.stopped.is_set():
            try:
                self.queue.put(item, timeout=0.2)
                return True
            except queue.Full:
                pass
        return False

    def close(self) -> None:
        self.stopped.set()
        if self.thread:
            self.maker.gs.cancel()
            self.thread.join()
        self.maker.close()
