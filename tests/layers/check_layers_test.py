#!/usr/bin/env python3
"""The layer check (scripts/check-layers) on small trees made here and on a copy of the real one:
it passes on correct trees and names each include that points up, or a Qt header below ui/."""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = pathlib.Path(os.environ.get("ZQ_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
CHECKER = SOURCE / "scripts" / "check-layers"


def run_check(tree):
    result = subprocess.run([sys.executable, str(CHECKER), str(tree)], capture_output=True,
                            text=True, timeout=120)
    return result.returncode, result.stdout.splitlines()


class LayerCheck(unittest.TestCase):
    def setUp(self):
        self.tree = pathlib.Path(tempfile.mkdtemp(prefix="check-layers-"))  # under $TMPDIR
        self.addCleanup(shutil.rmtree, self.tree)

    def write(self, path, *includes):
        file = self.tree / path
        file.parent.mkdir(parents=True, exist_ok=True)
        file.write_text("".join(f"#include {name}\n" for name in includes) + "int x;\n")

    def write_correct_tree(self):
        self.write("platform/stream.h", "<cstdint>")
        self.write("dbengine/crypto/hash.h", '"platform/stream.h"')
        self.write("dbengine/format/db_format.h", "<string>")
        self.write("dbengine/pipeline/data_process_mgr.cpp", '"dbengine/format/db_format.h"',
                   '"dbengine/crypto/hash.h"')
        self.write("dbengine/storage/table_io.cpp", '"dbengine/pipeline/data_process_mgr.h"',
                   '"dbengine/storage/table_io.h"', '"table_io.h"')
        self.write("dbengine/session/database.cpp", '"dbengine/storage/db_file_io.h"')
        self.write("dbengine/filter/filter_parser.h", '"dbengine/format/db_error.h"')
        self.write("dbengine/dataset/db_table.cpp", '"dbengine/filter/filter_parser.h"',
                   '"dbengine/session/database.h"', '"platform/stream.h"')
        self.write("zip/zip_archiver.cpp", '"platform/stream.h"')
        self.write("ui/login_form.cpp", "<QDialog>", "<QtWidgets/QWidget>",
                   '"dbengine/session/login_hook.h"')
        self.write("app/main.cpp", '"ui/login_form.h"', '"zip/zip_archiver.h"')
        self.write("tools/zqdb.cpp", '"dbengine/dataset/db_table.h"', '"zip/zip_archiver.h"')
        self.write("tests/dbengine/anything_test.cpp", '"tools/zqdb.h"', "<QString>")

    def test_a_correct_tree_passes(self):
        self.write_correct_tree()
        self.assertEqual(run_check(self.tree), (0, []))

    def test_each_upward_include_is_named(self):
        self.write_correct_tree()
        self.write("dbengine/storage/table_io.cpp", '"dbengine/storage/table_io.h"',
                   '"dbengine/dataset/db_blob_stream.h"')
        self.write("dbengine/pipeline/data_process_mgr.cpp", '"dbengine/storage/db_file_io.h"')
        self.write("dbengine/filter/filter_eval.cpp", '"dbengine/dataset/data_set.h"')
        self.write("platform/file.cpp", '"zip/zip_format.h"')
        self.write("zip/zip_writer.cpp", '"dbengine/format/db_error.h"')
        self.write("tools/zqpkg.cpp", '"ui/message_box.h"')
        status, lines = run_check(self.tree)
        self.assertEqual(status, 1)
        self.assertEqual([line.split(":")[0] + ":" + line.split(":")[1] for line in lines], [
            "dbengine/filter/filter_eval.cpp:1",
            "dbengine/pipeline/data_process_mgr.cpp:1",
            "dbengine/storage/table_io.cpp:2",
            "platform/file.cpp:1",
            "tools/zqpkg.cpp:1",
            "zip/zip_writer.cpp:1",
        ])
        self.assertIn('includes "dbengine/dataset/db_blob_stream.h"', lines[2])

    def test_qt_below_the_user_interface_fails(self):
        self.write_correct_tree()
        self.write("dbengine/session/flush_timer.cpp", "<QTimer>")
        self.write("zip/zip_mask.cpp", "<QtCore/QString>")
        status, lines = run_check(self.tree)
        self.assertEqual(status, 1)
        self.assertEqual(len(lines), 2)
        self.assertIn("<QTimer>", lines[0])
        self.assertIn("<QtCore/QString>", lines[1])

    def test_engine_code_outside_the_layer_folders_fails(self):
        self.write_correct_tree()
        self.write("dbengine/loose.cpp", '"dbengine/format/db_format.h"')
        self.write("dbengine/misc/helper.h", "<string>")
        status, lines = run_check(self.tree)
        self.assertEqual(status, 1)
        self.assertEqual(lines, ["dbengine/loose.cpp: not in one of the engine's layer folders",
                                 "dbengine/misc/helper.h: not in one of the engine's layer folders"])

    def test_the_real_tree_fails_once_a_lower_file_includes_an_upper_header(self):
        for folder in ("platform", "dbengine", "zip", "ui", "app", "tools"):
            shutil.copytree(SOURCE / folder, self.tree / folder)
        self.assertEqual(run_check(self.tree), (0, []))
        table_io = self.tree / "dbengine/storage/table_io.cpp"
        text = table_io.read_text()
        table_io.write_text('#include "dbengine/dataset/db_table.h"\n' + text)
        status, lines = run_check(self.tree)
        self.assertEqual(status, 1)
        self.assertEqual(len(lines), 1)
        self.assertTrue(lines[0].startswith(
            'dbengine/storage/table_io.cpp:1: dbengine/storage/ includes "dbengine/dataset/db_table.h"'),
            lines[0])


if __name__ == "__main__":
    unittest.main()
