"""The codepage_guess module as installed from its wheel, against the
codepage-guess command.

CODEPAGE_GUESS: the command; CODEPAGE_GUESS_SOURCE: the source tree.
"""
import array
import gc
import json
import mmap
import os
import random
import resource
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import pytest

import codepage_guess

TOOL = os.environ["CODEPAGE_GUESS"]
SOURCE = Path(os.environ["CODEPAGE_GUESS_SOURCE"])
EXAMPLES = SOURCE / "examples"
SJIS = (EXAMPLES / "japanese_sjis.txt").read_bytes()
UTF8 = (EXAMPLES / "japanese_utf8.txt").read_bytes()
JAPANESE = (SOURCE / "tests" / "trees" / "japanese.txt").read_bytes()


def command_says(data, folder):
    path = Path(folder) / "input"
    path.write_bytes(data)
    run = subprocess.run([TOOL, str(path)], capture_output=True)
    if run.returncode != 0:
        return 0  # no bytes: undecided here
    said = run.stdout.decode().strip()
    return int(said.replace("code.page=", "")) if said else 0


def generated_inputs():
    rng = random.Random(23)
    inputs = []
    for text in (SJIS, UTF8, JAPANESE):
        for _ in range(150):
            start = rng.randrange(len(text))
            inputs.append(text[start:start + rng.randrange(200)])  # cut anywhere
        for _ in range(60):
            damaged = bytearray(text)
            for _ in range(rng.randrange(1, 5)):
                damaged[rng.randrange(len(damaged))] = rng.randrange(256)
            inputs.append(bytes(damaged))
    turns = [0x80, 0xA0, 0xC0, 0xE0, 0xE3, 0xEF, 0xF0, 0xF8, 0xFC, 0xFD, 0xFF, 0x81, 0x82, 0x41, 0x0A]
    for _ in range(200):
        inputs.append(bytes(rng.randrange(256) for _ in range(rng.randrange(300))))
        inputs.append(bytes(rng.choice(turns) for _ in range(rng.randrange(40))))
    return inputs


class TestTheVerdictIsTheCommandLines:
    def test_on_the_examples_and_the_fuzz_corpus(self, tmp_path):
        files = [p for p in EXAMPLES.glob("*.txt")] + list((SOURCE / "fuzz" / "corpus").iterdir())
        assert len(files) >= 9
        for path in files:
            data = path.read_bytes()
            expected = command_says(data, tmp_path)
            assert codepage_guess.guess(data) == expected, path
            assert codepage_guess.guess_file(path) == expected, path
            assert codepage_guess.explain(data).code_page == expected, path

    def test_on_generated_inputs(self, tmp_path):
        inputs = generated_inputs()
        assert len(inputs) > 1000
        for k, data in enumerate(inputs):
            assert codepage_guess.guess(data) == command_says(data, tmp_path), k

    def test_past_1_mib_only_the_first_input_limit_bytes_count(self, tmp_path):
        ascii = (b"plain text\n" * (codepage_guess.INPUT_LIMIT // 11 + 1))[:codepage_guess.INPUT_LIMIT]
        data = ascii + SJIS
        assert codepage_guess.guess(data) == command_says(data, tmp_path) == 0
        assert codepage_guess.guess(data[100:]) == 932
        big = SJIS * (3 * 1048576 // len(SJIS))
        assert codepage_guess.guess(big) == command_says(big, tmp_path) == 932
        assert codepage_guess.explain(big).examined == codepage_guess.INPUT_LIMIT


class TestEveryBytesLikeObject:
    def test_is_taken_without_a_copy(self, tmp_path):
        numpy = pytest.importorskip("numpy")
        path = tmp_path / "sjis.txt"
        path.write_bytes(SJIS)
        with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
            objects = [SJIS, bytearray(SJIS), memoryview(SJIS), memoryview(SJIS)[2:],
                       mapped, numpy.frombuffer(SJIS, dtype=numpy.uint8),
                       array.array("B", SJIS)]
            for data in objects:
                assert codepage_guess.guess(data) == 932, type(data)
                assert codepage_guess.codec(data) == "cp932", type(data)
        assert codepage_guess.guess(bytearray()) == 0
        assert codepage_guess.codec(b"plain") is None
        assert SJIS.decode(codepage_guess.codec(SJIS)) == UTF8.decode()

    def test_wrong_types_raise_type_error(self):
        for wrong in ["text", 42, None, 1.5, [0x82, 0xA0], object(), memoryview(SJIS)[::2]]:
            for call in (codepage_guess.guess, codepage_guess.codec, codepage_guess.explain,
                         codepage_guess.Stream().feed):
                with pytest.raises(TypeError):
                    call(wrong)
        with pytest.raises(TypeError):
            codepage_guess.guess_file(42)
        with pytest.raises(TypeError):
            codepage_guess.Stream(1)


class TestFiles:
    def test_paths_of_every_kind(self, tmp_path):
        path = tmp_path / "日本語.txt"
        path.write_bytes(SJIS)
        for form in (path, str(path), os.fsencode(path)):
            assert codepage_guess.guess_file(form) == 932
        (tmp_path / "empty").write_bytes(b"")
        assert codepage_guess.guess_file(tmp_path / "empty") == 0

    def test_errors_are_the_usual_os_errors_with_the_path(self, tmp_path):
        with pytest.raises(FileNotFoundError) as missing:
            codepage_guess.guess_file(tmp_path / "missing.txt")
        assert missing.value.filename == tmp_path / "missing.txt"
        with pytest.raises(IsADirectoryError) as folder:
            codepage_guess.guess_file(str(tmp_path))
        assert folder.value.filename == str(tmp_path)

    @pytest.mark.skipif(os.name != "posix", reason="POSIX permissions")
    def test_an_unreadable_file_raises_permission_error(self, tmp_path):
        path = tmp_path / "secret.txt"
        path.write_bytes(SJIS)
        path.chmod(0)
        check = (f"import codepage_guess\ntry:\n codepage_guess.guess_file({str(path)!r})\n"
                 f"except PermissionError as e:\n print(e.filename)")
        command = [sys.executable, "-c", check]
        if os.geteuid() == 0:
            if subprocess.run(["which", "setpriv"], capture_output=True).returncode != 0:
                pytest.skip("root, and no setpriv to drop it")
            tmp_path.chmod(0o755)
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + command
        assert subprocess.run(command, capture_output=True, text=True).stdout.strip() == str(path)


class TestStreams:
    def test_every_split_of_short_inputs_gives_the_one_shot_verdict(self):
        rng = random.Random(5)
        inputs = [bytes.fromhex("e38182 82a0 ff 41 c3a9 e381".replace(" ", "")),
                  bytes.fromhex("82a0 82a0 e38182 e38182 0a".replace(" ", ""))]
        inputs += [bytes(rng.randrange(256) for _ in range(11)) for _ in range(6)]
        for data in inputs:
            whole = codepage_guess.guess(data)
            for places in range(1 << (len(data) - 1)):
                with codepage_guess.Stream() as stream:
                    start = 0
                    for at in range(1, len(data)):
                        if places >> (at - 1) & 1:
                            stream.feed(data[start:at])
                            start = at
                    stream.feed(data[start:])
                    assert stream.guess() == whole, (data, places)

    def test_long_inputs_in_random_pieces_and_past_the_limit(self):
        rng = random.Random(9)
        data = bytearray(SJIS * (codepage_guess.INPUT_LIMIT // len(SJIS) + 10))
        data[codepage_guess.INPUT_LIMIT + 10] = 0xFF  # past the limit: must not count
        for _ in range(10):
            stream = codepage_guess.Stream()
            start = 0
            while start < len(data):
                size = rng.randrange(200000)
                stream.feed(memoryview(data)[start:start + size])
                start += size
            assert stream.guess() == 932
            stream.feed(b"")
            assert stream.guess() == 932

    def test_a_closed_stream_refuses(self):
        with codepage_guess.Stream() as stream:
            stream.feed(b"\x82\xa0")
        with pytest.raises(ValueError):
            stream.feed(b"x")
        with pytest.raises(ValueError):
            stream.guess()


def test_explain_reports_both_readings_and_the_rule():
    cases = [("e38182", 65001, "best_score", 0, 0.866, 0, 0.165),
             ("82a0", 932, "only_error_free", 2, 0.0, 0, 0.6697),
             ("636166c3a9", 932, "best_score", 0, 0.0100, 0, 0.0292),
             ("48656c6c6f", 0, "undecided", 0, 0.0, 0, 0.0)]
    for hex_, code_page, rule, utf8_errors, utf8_score, sjis_errors, sjis_score in cases:
        e = codepage_guess.explain(bytes.fromhex(hex_))
        assert (e.code_page, e.rule, e.utf8_errors, e.sjis_errors) == (code_page, rule, utf8_errors, sjis_errors)
        assert e.utf8_score == pytest.approx(utf8_score, abs=0.0005)
        assert e.sjis_score == pytest.approx(sjis_score, abs=0.0005)
        assert e.examined == len(bytes.fromhex(hex_))


def test_threads_at_once_get_the_same_answers():
    inputs = [(SJIS, 932), (UTF8, 65001), (b"ascii only", 0), (SJIS * 1000, 932), (UTF8 * 1000, 65001)]
    wrong = []

    def work(seed):
        rng = random.Random(seed)
        for _ in range(300):
            data, expected = rng.choice(inputs)
            if codepage_guess.guess(data) != expected:
                wrong.append(seed)
            with codepage_guess.Stream() as stream:
                stream.feed(data[:7]).feed(data[7:])
                if stream.guess() != expected:
                    wrong.append(seed)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert wrong == []


def test_a_million_calls_keep_no_reference_and_no_memory():
    data = SJIS[:64]
    path = Path(tempfile.gettempdir()) / "codepage_guess_leak.txt"
    path.write_bytes(data)

    def calls(rounds):
        for _ in range(rounds):
            codepage_guess.guess(data)
        for _ in range(rounds // 100):
            codepage_guess.explain(data)
            codepage_guess.guess_file(path)
            with codepage_guess.Stream() as stream:
                stream.feed(data).guess()

    calls(10000)
    gc.collect()
    references = sys.getrefcount(data)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    calls(1000000)
    gc.collect()
    grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
    path.unlink()
    assert sys.getrefcount(data) == references
    assert grown < 8192, f"the process grew by {grown} KiB"


def test_the_version_and_the_types():
    assert codepage_guess.__version__ == "2.1.0"
    package = Path(codepage_guess.__file__).parent
    assert (package / "py.typed").exists() and (package / "__init__.pyi").exists()
    assert "site-packages" in str(package), "imported from the source tree, not the wheel"


SCAN = str(Path(TOOL).with_name("codepage-scan"))


def scan_says(path):
    """codepage-scan's JSON for one file, without what describe() leaves out."""
    run = subprocess.run([SCAN, "--json", "--no-summary", "--no-ignore", "--", str(path)],
                         capture_output=True, check=True)
    fields = json.loads(run.stdout)
    return {k: v for k, v in fields.items() if k not in ("path", "size")}


def described(description):
    fields = description._asdict()
    return {k: v for k, v in fields.items() if v is not None or k == "code_page"}


class TestKinds:
    def test_describe_is_the_scans_json_on_every_kind(self, tmp_path):
        text = "日本語の文章です。\n".encode()
        mixed = "// 設定\n".encode("cp932") * 3 + "// 更新: 修正しました\n".encode()
        inputs = [b"", b"ascii\n", text, "café".encode(), "設定\n".encode("cp932") * 5,
                  "日本語の文章です。\n".encode("euc_jp") * 3, "日本語\n".encode("iso2022_jp"),
                  b"\xff\xfe" + "日本".encode("utf-16-le"), b"\xef\xbb\xbf" + text, mixed,
                  bytes(range(256)), "Größe\n".encode("latin-1")]
        inputs += generated_inputs()[::7]
        for k, data in enumerate(inputs):
            path = tmp_path / f"input{k}"
            path.write_bytes(data)
            expected = scan_says(path)
            assert described(codepage_guess.describe(data)) == expected, data[:40]
            assert described(codepage_guess.describe_file(path)) == expected, data[:40]
            assert codepage_guess.describe(data).kind in codepage_guess.KINDS

    def test_a_long_file_is_described_by_its_start_as_the_scan_does(self, tmp_path):
        # A character cut at the limit is no error in a longer file.
        limit = codepage_guess.INPUT_LIMIT
        data = b"a" * (limit - 1) + "日本".encode()
        path = tmp_path / "long.txt"
        path.write_bytes(data)
        assert described(codepage_guess.describe_file(path)) == scan_says(path)
        assert codepage_guess.describe_file(path).kind == "utf-8"
        exact = tmp_path / "exact.txt"
        exact.write_bytes(data[:limit])
        assert described(codepage_guess.describe_file(exact)) == scan_says(exact)

    def test_files_are_refused_as_guess_file_refuses_them(self, tmp_path):
        with pytest.raises(FileNotFoundError):
            codepage_guess.describe_file(tmp_path / "missing")
        with pytest.raises(IsADirectoryError):
            codepage_guess.describe_file(tmp_path)
        with pytest.raises(TypeError):
            codepage_guess.describe("text")


@pytest.mark.skipif(os.name != "posix", reason="FIFOs")
class TestPipesAreReadAsTheCommandLineReadsThem:
    def fifo_with_writer(self, tmp_path, data, delay):
        fifo = tmp_path / "fifo"
        os.mkfifo(fifo)

        def write():
            time.sleep(delay)
            # Opened without waiting, so that a reader that has gone leaves
            # no thread blocked: a reader must be there within 5 s.
            deadline = time.monotonic() + 5
            while True:
                try:
                    descriptor = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
                    break
                except OSError:
                    if time.monotonic() > deadline:
                        return
                    time.sleep(0.01)
            os.set_blocking(descriptor, True)
            with open(descriptor, "wb") as writer:
                try:
                    writer.write(data[:100])
                    writer.flush()
                    time.sleep(delay)  # the reader must wait for the rest
                    writer.write(data[100:])
                except BrokenPipeError:
                    pass

        thread = threading.Thread(target=write)
        thread.start()
        return fifo, thread

    def test_a_slow_writer_is_waited_for(self, tmp_path):
        for call, expected in ((codepage_guess.guess_file, 932),
                               (lambda p: codepage_guess.describe_file(p).kind, "shift_jis")):
            fifo, thread = self.fifo_with_writer(tmp_path, SJIS, 0.2)
            try:
                assert call(fifo) == expected
            finally:
                thread.join()
            fifo.unlink()

    def test_the_command_line_agrees_on_a_pipe(self, tmp_path):
        fifo, thread = self.fifo_with_writer(tmp_path, SJIS, 0.1)
        said = subprocess.run([TOOL, str(fifo)], capture_output=True, text=True).stdout
        thread.join()
        assert said.strip() == "code.page=932"


def test_a_stream_closed_under_waiting_threads_raises_rather_than_answering():
    # Threads waiting for the lock while another closes the stream must find
    # it closed once they hold the lock.
    # Random bytes take the slowest path, and are large enough that guess()
    # releases the GIL: the others queue for the lock meanwhile.
    data = random.Random(3).randbytes(codepage_guess.INPUT_LIMIT)
    answers, refused = [], []
    for _ in range(200):
        stream = codepage_guess.Stream().feed(data)
        start = threading.Barrier(4)

        def ask():
            start.wait()
            try:
                answers.append(stream.guess())
            except ValueError:
                refused.append(1)

        def close():
            start.wait()
            time.sleep(0.0005)
            stream.close()

        threads = [threading.Thread(target=ask) for _ in range(3)] + [threading.Thread(target=close)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    expected = codepage_guess.guess(data)
    assert expected != 0 and set(answers) <= {expected}, "a closed stream answered"
    assert len(answers) + len(refused) == 600


def test_the_module_is_final_and_documented():
    with pytest.raises(TypeError):
        type("Sub", (codepage_guess.Stream,), {})
    import doctest
    assert doctest.testmod(codepage_guess).failed == 0
    assert not hasattr(codepage_guess, "explain_tuple") and not hasattr(codepage_guess, "library_version")
