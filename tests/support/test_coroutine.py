"""The async bridge: C++ coroutines seen from Python as coroutine objects."""

import asyncio
import collections.abc
import gc
import tracemalloc
import types
import warnings
import weakref

import pytest

from nebrix import _support_probe as probe


def run(awaitable):
    return asyncio.run(awaitable)


class TestAwaiting:
    @pytest.mark.parametrize("value", [None, 0, "text", (1, 2), (), [3], {"k": (4,)}])
    def test_co_return_value_is_the_await_result(self, value):
        # A tuple must come back whole, not unpacked into StopIteration's arguments.
        assert run(probe.return_value(value)) == value

    def test_delegates_to_python_awaitables(self):
        async def native():
            await asyncio.sleep(0)
            return "native"

        async def main():
            loop = asyncio.get_running_loop()
            future = loop.create_future()
            loop.call_soon(future.set_result, "future")
            task = asyncio.ensure_future(native())
            return await probe.await_all([
                native(), future, task, asyncio.sleep(0.001, "slept"),
                loop.run_in_executor(None, sum, [1, 2, 3]), probe.return_value("ours"),
                probe.nested("nested"),
            ])

        assert run(main()) == ["native", "future", "native", "slept", 6, "ours", "nested"]

    def test_generator_based_awaitables(self):
        @types.coroutine
        def legacy():
            yield
            return "legacy"

        class Awaitable:
            def __await__(self):
                yield
                return "custom"

        assert run(probe.await_all([legacy(), Awaitable()])) == ["legacy", "custom"]

    def test_is_a_coroutine_for_asyncio_and_the_abc(self):
        coroutine = probe.return_value(1)
        try:
            assert asyncio.iscoroutine(coroutine)
            assert isinstance(coroutine, collections.abc.Coroutine)
            assert coroutine.__name__ == "return_value" and coroutine.__qualname__ == "return_value"
            assert coroutine.cr_running is False and coroutine.cr_await is None
        finally:
            coroutine.close()

    def test_task_name_and_repr(self):
        async def main():
            task = asyncio.create_task(probe.await_one(asyncio.sleep(0, 5)), name="job-1")
            assert "coro=<await_one" in repr(task)
            return await task, task.get_name()

        assert run(main()) == (5, "job-1")

    @pytest.mark.parametrize("bad, message", [
        (3, "object int can't be used in 'await' expression"),
        (type("Odd", (), {"__await__": lambda self: 5})(), "__await__() returned non-iterator of type 'int'"),
    ])
    def test_awaiting_a_non_awaitable_raises_inside_the_coroutine(self, bad, message):
        kind, error = run(probe.await_catching(bad))
        assert kind == "caught" and type(error) is TypeError and str(error) == message


class TestErrors:
    def test_python_errors_keep_type_and_text(self):
        with pytest.raises(ValueError, match="^bad value$"):
            run(probe.raise_value_error("bad value"))
        error = KeyError("missing")
        with pytest.raises(KeyError) as caught:
            run(probe.raise_python(error))
        assert caught.value is error

    def test_cpp_exception_becomes_runtime_error(self):
        with pytest.raises(RuntimeError, match="^plain C\\+\\+ failure$"):
            run(probe.raise_cpp_error())

    def test_error_of_the_awaited_object_is_catchable_in_cpp(self):
        async def failing():
            raise OSError(5, "io")

        kind, error = run(probe.await_catching(failing()))
        assert kind == "caught" and isinstance(error, OSError) and error.errno == 5

    def test_stop_iteration_escaping_becomes_runtime_error(self):
        with pytest.raises(RuntimeError, match="coroutine raised StopIteration") as caught:
            run(probe.raise_python(StopIteration("x")))
        assert isinstance(caught.value.__cause__, StopIteration)


class TestCancellationAndTimeouts:
    def test_cancel_arrives_at_the_await_and_can_be_caught(self):
        async def main():
            task = asyncio.create_task(probe.await_catching(asyncio.sleep(10)))
            await asyncio.sleep(0.01)
            task.cancel()
            return await task

        kind, error = run(main())
        assert kind == "caught" and isinstance(error, asyncio.CancelledError)

    def test_uncaught_cancel_cancels_the_task(self):
        async def main():
            task = asyncio.create_task(probe.await_one(asyncio.sleep(10)))
            await asyncio.sleep(0.01)
            task.cancel()
            with pytest.raises(asyncio.CancelledError):
                await task
            return task.cancelled()

        assert run(main()) is True

    def test_cleanup_may_await_after_cancellation(self):
        cleaned = []

        async def cleanup():
            await asyncio.sleep(0)
            cleaned.append(True)

        async def main():
            task = asyncio.create_task(probe.await_with_cleanup(asyncio.sleep(10), cleanup()))
            await asyncio.sleep(0.01)
            task.cancel()
            with pytest.raises(asyncio.CancelledError):
                await task

        run(main())
        assert cleaned == [True]

    def test_wait_for_timeout(self):
        kind, error = run(probe.await_catching(asyncio.wait_for(asyncio.sleep(10), 0.01)))
        assert kind == "caught" and isinstance(error, TimeoutError)

    def test_wait_for_around_our_coroutine(self):
        async def main():
            with pytest.raises(TimeoutError):
                await asyncio.wait_for(probe.await_one(asyncio.sleep(10)), 0.01)

        run(main())


class TestProtocol:
    def test_send_throw_close_by_hand(self):
        coroutine = probe.await_catching(asyncio.sleep(0))
        with pytest.raises(TypeError, match="can't send non-None value to a just-started coroutine"):
            coroutine.send(1)
        assert coroutine.send(None) is None  # asyncio.sleep(0) yields a bare None
        with pytest.raises(StopIteration) as stop:
            coroutine.throw(ValueError("thrown"))
        kind, error = stop.value.value
        assert kind == "caught" and str(error) == "thrown"
        with pytest.raises(RuntimeError, match="cannot reuse already awaited coroutine"):
            coroutine.send(None)

    def test_throw_into_an_unstarted_coroutine_raises_and_ends_it(self):
        coroutine = probe.return_value(1)
        with pytest.raises(KeyError):
            coroutine.throw(KeyError)
        with pytest.raises(RuntimeError, match="cannot reuse"):
            coroutine.send(None)

    def test_throw_rejects_non_exceptions(self):
        coroutine = probe.await_one(asyncio.sleep(0))
        coroutine.send(None)
        with pytest.raises(TypeError, match="exceptions must be classes or instances deriving from BaseException"):
            coroutine.throw(42)
        coroutine.close()

    def test_close_closes_the_awaited_generator_first(self):
        closed = []

        class Awaitable:
            def __await__(self):
                try:
                    yield
                finally:
                    closed.append(True)

        coroutine = probe.await_one(Awaitable())
        coroutine.send(None)
        coroutine.close()
        assert closed == [True]
        coroutine.close()  # closing again is harmless

    def test_ignoring_generator_exit_is_a_runtime_error(self):
        coroutine = probe.await_with_cleanup(asyncio.sleep(0), asyncio.sleep(0))
        coroutine.send(None)
        with pytest.raises(RuntimeError, match="coroutine ignored GeneratorExit"):
            coroutine.close()

    def test_reentry_is_refused(self):
        holder = []

        class SelfAwait:
            def __await__(self):
                return holder[0].__await__()

        coroutine = probe.await_catching(SelfAwait())
        holder.append(coroutine)
        with pytest.raises(StopIteration) as stop:
            coroutine.send(None)
        kind, error = stop.value.value
        assert kind == "caught" and isinstance(error, ValueError) and "already executing" in str(error)

    def test_never_awaited_warns_like_python(self):
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            probe.return_value(1)
            gc.collect()
        messages = [str(w.message) for w in caught if issubclass(w.category, RuntimeWarning)]
        assert "coroutine 'return_value' was never awaited" in messages

    def test_closing_an_unstarted_coroutine_does_not_warn(self):
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            probe.return_value(1).close()
            gc.collect()


class TestMemory:
    def test_reference_cycles_through_parameters_are_collected(self):
        class Holder:
            pass

        holder = Holder()
        holder.coroutine = probe.await_one(holder_awaitable := asyncio.sleep(0))
        holder_awaitable.close()
        alive = weakref.ref(holder)
        holder.coroutine.close()
        holder.coroutine = probe.return_value(holder)  # holder -> coroutine -> holder
        del holder
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            gc.collect()
        assert alive() is None

    def test_a_pending_task_in_a_cycle_is_collected(self, caplog):
        class Holder:
            def __await__(self):
                yield from self.future

        loop = asyncio.new_event_loop()
        holder = Holder()
        holder.future = loop.create_future()
        # holder -> task -> coroutine (parameter) -> holder, and future -> task callbacks
        holder.task = loop.create_task(probe.await_one(holder))
        loop.run_until_complete(asyncio.sleep(0))
        alive = weakref.ref(holder)
        frames = probe.live_frames()
        del holder
        loop.close()
        gc.collect()
        assert alive() is None
        assert probe.live_frames() == frames - 1

    def test_every_ending_releases_the_frame(self):
        frames = probe.live_frames()
        run(probe.return_value(1))
        with pytest.raises(ValueError):
            run(probe.raise_value_error("x"))
        run(probe.await_catching(asyncio.wait_for(asyncio.sleep(1), 0.001)))
        started = probe.await_one(asyncio.sleep(0))
        started.send(None)
        started.close()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            probe.return_value(1)
            gc.collect()
        assert probe.live_frames() == frames

    def test_many_coroutines_leave_no_memory_behind(self):
        async def batch():
            for _ in range(1000):
                await probe.await_one(probe.return_value((1, "x")))
                task = asyncio.ensure_future(probe.await_catching(asyncio.sleep(0)))
                await task

        loop = asyncio.new_event_loop()
        try:
            loop.run_until_complete(batch())  # warm up caches
            gc.collect()
            tracemalloc.start()
            before = tracemalloc.get_traced_memory()[0]
            for _ in range(10):
                loop.run_until_complete(batch())
            gc.collect()
            grown = tracemalloc.get_traced_memory()[0] - before
            tracemalloc.stop()
        finally:
            loop.close()
        assert grown < 200_000, f"memory grew by {grown} bytes over 10,000 coroutines"
        assert probe.live_frames() == 0
