"""The module's surface and the properties of its two types."""

import importlib.util
import inspect
import unittest

import velmoran

BASETYPE_FLAG = 1 << 10
HAVE_GC_FLAG = 1 << 14


class ModuleTest(unittest.TestCase):
    def test_attributes(self):
        self.assertEqual(velmoran.__all__, ["RawReader", "Spectrum"])
        self.assertEqual(velmoran.__doc__, "")
        own = sorted(name for name in vars(velmoran) if not name.startswith("__"))
        self.assertEqual(own, ["RawReader", "Spectrum"])

    def test_executing_again_reuses_the_types(self):
        spec = importlib.util.find_spec("velmoran")
        fresh = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(fresh)
        self.assertIsNot(fresh, velmoran)
        self.assertIs(fresh.RawReader, velmoran.RawReader)
        self.assertIs(fresh.Spectrum, velmoran.Spectrum)
        # Executing the same module object again (as importlib.reload does)
        # lists each class once.
        spec.loader.exec_module(fresh)
        self.assertEqual(fresh.__all__, ["RawReader", "Spectrum"])


class TypePropertiesTest(unittest.TestCase):
    def test_names_and_docs(self):
        for cls, name in ((velmoran.RawReader, "RawReader"), (velmoran.Spectrum, "Spectrum")):
            with self.subTest(name):
                self.assertEqual(cls.__module__, "builtins")
                self.assertEqual(cls.__qualname__, name)
                self.assertEqual(cls.__name__, name)
        self.assertIsNone(velmoran.Spectrum.__doc__)
        self.assertEqual(velmoran.RawReader.__text_signature__, "(path)")
        self.assertEqual(str(inspect.signature(velmoran.RawReader)), "(path)")
        method = velmoran.RawReader.read_spectrum
        self.assertEqual(method.__text_signature__, "($self, scan_index)")
        self.assertEqual(str(inspect.signature(method)), "(self, /, scan_index)")

    def test_flags_and_layout(self):
        for cls in (velmoran.RawReader, velmoran.Spectrum):
            with self.subTest(cls.__name__):
                self.assertEqual(cls.__flags__ & (BASETYPE_FLAG | HAVE_GC_FLAG), 0)
                self.assertEqual(cls.__dictoffset__, 0)
                self.assertEqual(cls.__weakrefoffset__, 0)
                self.assertEqual(cls.__bases__, (object,))
                with self.assertRaises(TypeError):
                    type("Sub", (cls,), {})

    def test_members(self):
        def own(cls):
            return [name for name in vars(cls) if not name.startswith("__")]

        getters = ["mz", "intensity", "ms_level", "retention_time_sec"]
        self.assertEqual(own(velmoran.Spectrum), getters)  # in declaration order
        self.assertEqual(sorted(own(velmoran.RawReader)), ["read_spectrum", "scan_count"])
        for cls, name in [(velmoran.Spectrum, g) for g in getters] + [
            (velmoran.RawReader, "scan_count")
        ]:
            self.assertIsNone(vars(cls)[name].__doc__, name)

    def test_spectrum_cannot_be_made(self):
        for args, kwargs in (((), {}), ((1, "x"), {"mz": []})):
            with self.assertRaises(TypeError) as caught:
                velmoran.Spectrum(*args, **kwargs)
            self.assertEqual(str(caught.exception), "cannot create 'builtins.Spectrum' instances")


if __name__ == "__main__":
    unittest.main()
