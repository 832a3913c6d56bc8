"""Runs the unittest files test_*.py of one folder, for ctest.
A file that needs a module this Python lacks (numpy, torch, ...) is skipped with a line saying
which; when every file is skipped, exits 77, which ctest reports as a skipped test.
Usage: run_python_tests.py <folder>"""
import importlib.util
import os
import sys
import unittest

SKIPPED = 77


def load(path, folder):
    """The module of `path`, or the name of the missing module that keeps it from loading."""
    name = os.path.splitext(os.path.basename(path))[0]
    spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(spec)
    try:
        spec.loader.exec_module(module)
    except ModuleNotFoundError as error:
        if error.name and not os.path.exists(os.path.join(folder, error.name + '.py')):
            return None, error.name
        raise
    return module, None


def main():
    folder = os.path.abspath(sys.argv[1])
    sys.path.insert(0, folder)
    files = sorted(f for f in os.listdir(folder) if f.startswith('test_') and f.endswith('.py'))
    suite = unittest.TestSuite()
    loaded = 0
    for f in files:
        module, missing = load(os.path.join(folder, f), folder)
        if module is None:
            print(f'skipped {f}: no module {missing}')
            continue
        suite.addTests(unittest.defaultTestLoader.loadTestsFromModule(module))
        loaded += 1
    if loaded == 0:
        print(f'no test of {folder} could run')
        return SKIPPED
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
