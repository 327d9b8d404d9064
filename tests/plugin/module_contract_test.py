"""The plugin module as a host and Windows see it: exports, imports and
resources, read back from the built DLL's bytes."""

import os
import re
import struct
import subprocess
import unittest
import xml.etree.ElementTree as ET

import pefile

DLL = os.environ["QUILLON_DLL"]
MANIFEST_SOURCE = os.environ["QUILLON_MANIFEST"]
MODULE_LIBS = os.environ.get("QUILLON_MODULE_LIBS", "").split(",")
NM = os.environ.get("QUILLON_NM", "i686-w64-mingw32-nm")
OBJDUMP = os.environ.get("QUILLON_OBJDUMP", "i686-w64-mingw32-objdump")

RT_DIALOG, RT_VERSION, RT_MANIFEST = 5, 16, 24
LANG_EN_US = 1033

WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX = 0x00C00000, 0x00080000, 0x00020000
WS_DISABLED, WS_BORDER, WS_VSCROLL = 0x08000000, 0x00800000, 0x00200000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
DS_CENTER, DS_SETFONT = 0x0800, 0x0040
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX = 0, 1, 3
SS_RIGHT, ES_AUTOHSCROLL, ES_NUMBER, CBS_DROPDOWNLIST = 2, 0x0080, 0x2000, 3
BUTTON, EDIT, STATIC, COMBOBOX = 0x80, 0x81, 0x82, 0x85
LABEL = 0xFFFFFFFF

BASE = WS_CHILD | WS_VISIBLE
FIELD = BASE | WS_BORDER | WS_TABSTOP | WS_DISABLED
# (id, class, text, style, x, y, cx, cy), in template order.
CONTROLS = [
    (311, BUTTON, "ID3v1(.1) Tag", BASE | BS_AUTOCHECKBOX | WS_TABSTOP, 36, 6, 60, 10),
    (LABEL, STATIC, "Track #", BASE | SS_RIGHT | WS_GROUP, 112, 6, 26, 8),
    (321, EDIT, "", FIELD | ES_NUMBER, 142, 4, 18, 12),
    (LABEL, STATIC, "Title", BASE | SS_RIGHT | WS_GROUP, 18, 22, 14, 8),
    (322, EDIT, "", FIELD | ES_AUTOHSCROLL, 36, 20, 124, 12),
    (LABEL, STATIC, "Artist", BASE | SS_RIGHT | WS_GROUP, 16, 36, 16, 8),
    (323, EDIT, "", FIELD | ES_AUTOHSCROLL, 36, 34, 124, 12),
    (LABEL, STATIC, "Album", BASE | SS_RIGHT | WS_GROUP, 12, 50, 20, 8),
    (324, EDIT, "", FIELD | ES_AUTOHSCROLL, 36, 48, 124, 12),
    (LABEL, STATIC, "Year", BASE | SS_RIGHT | WS_GROUP, 16, 64, 16, 8),
    (325, EDIT, "", FIELD | ES_NUMBER, 36, 62, 21, 12),
    (LABEL, STATIC, "Genre", BASE | SS_RIGHT | WS_GROUP, 60, 64, 20, 8),
    (331, COMBOBOX, "", BASE | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_DISABLED,
     84, 62, 75, 12),
    (LABEL, STATIC, "Comment", BASE | SS_RIGHT | WS_GROUP, 2, 78, 30, 8),
    (326, EDIT, "", FIELD | ES_AUTOHSCROLL, 36, 76, 124, 12),
    (312, BUTTON, "&Save", BASE | BS_DEFPUSHBUTTON | WS_TABSTOP, 32, 93, 36, 14),
    (313, BUTTON, "&Close", BASE | BS_PUSHBUTTON | WS_TABSTOP, 100, 93, 36, 14),
]

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "comctl32.dll", "msvcrt.dll"}
# What GCC's libssp would bring: its canary is seeded through advapi32 (under
# the loader lock) and its failure is written to a console.
LIBSSP_IMPORTS = {"_open", "_write", "_exit"}

DYNAMIC_BASE, NX_COMPAT, NO_SEH = 0x0040, 0x0100, 0x0400
SUBSYSTEM_WINDOWS_GUI = 2
SCN_MEM_SHARED, SCN_MEM_EXECUTE, SCN_MEM_WRITE = 0x10000000, 0x20000000, 0x80000000


class Reader:
    """Walks a DLGTEMPLATEEX: little-endian, strings UTF-16 with NUL, an
    ordinal as 0xFFFF then a WORD, items aligned on DWORDs."""

    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def string(self):
        end = self.pos
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        text = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return text

    def string_or_ordinal(self):
        if self.data[self.pos:self.pos + 2] == b"\xff\xff":
            self.pos += 2
            return self.take("H")
        return self.string()

    def align(self):
        self.pos = (self.pos + 3) & ~3


def parse_dialog(data):
    r = Reader(data)
    frame = {}
    frame["version"], frame["signature"] = r.take("HH")
    frame["help"], frame["exstyle"], frame["style"] = r.take("III")
    count = r.take("H")
    frame["rect"] = r.take("hhhh")
    frame["menu"], frame["class"], frame["caption"] = (
        r.string_or_ordinal(), r.string_or_ordinal(), r.string())
    frame["font"] = r.take("HHBB") + (r.string(),)
    items = []
    for _ in range(count):
        r.align()
        help_id, exstyle, style = r.take("III")
        rect = r.take("hhhh")
        control_id = r.take("I")
        cls, text = r.string_or_ordinal(), r.string_or_ordinal()
        extra = r.take("H")
        r.pos += extra
        items.append(dict(help=help_id, exstyle=exstyle, style=style, rect=rect, id=control_id,
                          cls=cls, text=text, extra=extra))
    return frame, items


class ModuleContract(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(DLL)

    def resource(self, rtype, name):
        for type_entry in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            if type_entry.id != rtype:
                continue
            for name_entry in type_entry.directory.entries:
                if name_entry.id == name:
                    langs = name_entry.directory.entries
                    self.assertEqual([l.id for l in langs], [LANG_EN_US])
                    d = langs[0].data.struct
                    return self.pe.get_data(d.OffsetToData, d.Size)
        self.fail(f"no resource {rtype}/{name}")

    def test_is_a_32bit_dll(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, 0x14C)
        self.assertTrue(self.pe.FILE_HEADER.Characteristics & 0x2000)

    def test_exports_load_file_and_filter_string_by_name_and_ordinal(self):
        exports = {(e.name.decode(), e.ordinal): e for e in self.pe.DIRECTORY_ENTRY_EXPORT.symbols}
        self.assertEqual(set(exports), {("LoadFile", 1), ("filterStr", 2)})

        code = self.pe.get_section_by_rva(exports[("LoadFile", 1)].address)
        self.assertTrue(code.Characteristics & 0x20000000, "LoadFile is not in code")

        rva = exports[("filterStr", 2)].address
        self.assertEqual(self.pe.get_data(rva, 25), b"MP3 Files (*.mp3)\0*.mp3\0\0")
        data = self.pe.get_section_by_rva(rva)
        self.assertTrue(data.Characteristics & 0x80000000, "filterStr is not writable data")

    def test_imports_only_system_dlls_ansi_calls_and_comctl32_by_ordinal(self):
        imports = {e.dll.decode().lower(): e.imports for e in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(set(imports), SYSTEM_DLLS)
        comctl = imports["comctl32.dll"]
        self.assertEqual([(i.ordinal, i.name) for i in comctl], [(17, None)])
        names = [i.name.decode() for entries in imports.values() for i in entries if i.name]
        self.assertIn("DialogBoxParamA", names)
        self.assertEqual([n for n in names if n.endswith("W")], [])
        self.assertEqual(sorted(LIBSSP_IMPORTS.intersection(names)), [])

    def test_resources_are_the_dialog_version_and_manifest_only(self):
        found = sorted((t.id, n.id) for t in self.pe.DIRECTORY_ENTRY_RESOURCE.entries
                       for n in t.directory.entries)
        self.assertEqual(found, [(RT_DIALOG, 201), (RT_VERSION, 1), (RT_MANIFEST, 1)])

    def test_dialog_template_matches_the_layout_control_by_control(self):
        frame, items = parse_dialog(self.resource(RT_DIALOG, 201))
        self.assertEqual((frame["version"], frame["signature"]), (1, 0xFFFF))
        self.assertEqual((frame["help"], frame["exstyle"]), (0, 0))
        self.assertEqual(frame["style"], WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU
                         | WS_MINIMIZEBOX | DS_CENTER | DS_SETFONT)
        self.assertEqual(frame["rect"], (0, 0, 168, 114))
        self.assertEqual((frame["menu"], frame["class"]), ("", ""))
        self.assertEqual(frame["caption"], "Quillon - MP3")
        self.assertEqual(frame["font"], (8, 0, 0, 1, "MS Sans Serif"))

        self.assertEqual(len(items), len(CONTROLS))
        for item, (cid, cls, text, style, x, y, cx, cy) in zip(items, CONTROLS):
            with self.subTest(id=cid, text=text):
                self.assertEqual(item["id"], cid)
                self.assertEqual(item["cls"], cls)
                self.assertEqual(item["text"], text)
                self.assertEqual(hex(item["style"]), hex(style))
                self.assertEqual(item["rect"], (x, y, cx, cy))
                self.assertEqual((item["help"], item["exstyle"], item["extra"]), (0, 0, 0))

    def test_version_block_has_fixed_part_strings_in_order_and_translation(self):
        self.resource(RT_VERSION, 1)
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00010000, 0))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00010000, 0))
        self.assertEqual((fixed.FileFlagsMask, fixed.FileFlags), (0, 0))
        self.assertEqual((fixed.FileOS, fixed.FileType, fixed.FileSubtype), (0x00040000, 1, 0))
        self.assertEqual((fixed.FileDateMS, fixed.FileDateLS), (0, 0))

        strings = [fi for info in self.pe.FileInfo for fi in info if fi.Key == b"StringFileInfo"]
        tables = strings[0].StringTable
        self.assertEqual([t.LangID for t in tables], [b"040904E4"])
        entries = tables[0].entries
        self.assertEqual([(k.decode(), v.decode()) for k, v in entries.items()], [
            ("CompanyName", "Brindlock"),
            ("FileVersion", "1.0b"),
            ("FileDescription", "Quillon MP3 Plugin"),
            ("InternalName", "QuillonMp3"),
            ("LegalCopyright", "Copyright (C) 2026 Brindlock"),
            ("OriginalFilename", "QuillonMp3.dll"),
            ("ProductName", "Quillon"),
            ("ProductVersion", "1.0b")])

        var = [fi for info in self.pe.FileInfo for fi in info if fi.Key == b"VarFileInfo"]
        self.assertEqual(var[0].Var[0].entry, {b"Translation": "0x0409 0x04e4"})

    def test_manifest_is_utf8_crlf_with_identity_and_common_controls(self):
        data = self.resource(RT_MANIFEST, 1)
        with open(MANIFEST_SOURCE, "rb") as f:
            self.assertEqual(data, f.read())
        self.assertFalse(data.startswith(b"\xef\xbb\xbf"))
        self.assertTrue(data.endswith(b"\r\n"))
        self.assertEqual(data.count(b"\n"), data.count(b"\r\n"))

        ns = {"a": "urn:schemas-microsoft-com:asm.v1"}
        root = ET.fromstring(data)
        self.assertEqual(root.get("manifestVersion"), "1.0")
        self.assertEqual(root.find("a:assemblyIdentity", ns).attrib, {
            "version": "1.0.0.0", "processorArchitecture": "X86",
            "name": "Brindlock.Quillon.MP3 Plugin", "type": "win32"})
        self.assertEqual(root.find("a:description", ns).text, "MP3 Plugin for Quillon")
        deps = root.findall("a:dependency/a:dependentAssembly/a:assemblyIdentity", ns)
        self.assertEqual([d.attrib for d in deps], [{
            "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
            "processorArchitecture": "X86", "publicKeyToken": "6595b64144ccf1df",
            "language": "*"}])

    def test_is_hardened_as_a_reviewer_expects_of_a_guest_module(self):
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        self.assertEqual(hex(flags & (DYNAMIC_BASE | NX_COMPAT | NO_SEH)),
                         hex(DYNAMIC_BASE | NX_COMPAT | NO_SEH))
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, SUBSYSTEM_WINDOWS_GUI)
        # Without relocations DYNAMIC_BASE is an empty promise.
        self.assertTrue(getattr(self.pe, "DIRECTORY_ENTRY_BASERELOC", None))
        for section in self.pe.sections:
            name = section.Name.rstrip(b"\0").decode()
            with self.subTest(section=name):
                ch = section.Characteristics
                self.assertFalse(ch & SCN_MEM_WRITE and ch & SCN_MEM_EXECUTE, "writable code")
                self.assertFalse(ch & SCN_MEM_WRITE and ch & SCN_MEM_SHARED, "shared data")

    def test_registers_no_seh_handler_as_no_seh_promises(self):
        # An x86 SEH frame is registered by storing into fs:[0], the head of
        # the thread's handler list. Windows never calls a handler in a NO_SEH
        # image, but Wine does, so no Wine test would notice one.
        code = subprocess.run([OBJDUMP, "-d", DLL], check=True, capture_output=True,
                              text=True).stdout
        stores = [line.strip() for line in code.splitlines()
                  if re.search(r"\t(?!push|cmp|test)[a-z]+\s+(\S+,)?%fs:(0x)?0\s*$", line)]
        self.assertEqual(stores, [])

    def test_module_code_has_a_stack_canary_and_no_unwind_tables(self):
        for lib in filter(None, MODULE_LIBS):
            symbols = subprocess.run([NM, lib], check=True, capture_output=True, text=True).stdout
            self.assertIn("___stack_chk_fail", symbols, lib)
            sections = subprocess.run([OBJDUMP, "-h", lib], check=True, capture_output=True,
                                      text=True).stdout
            self.assertNotIn(".eh_frame", sections, lib)

    def test_module_code_has_no_global_constructors(self):
        # g++ names a translation unit's static initialiser _GLOBAL__sub_I_...
        for lib in filter(None, MODULE_LIBS):
            symbols = subprocess.run([NM, lib], check=True, capture_output=True, text=True).stdout
            self.assertNotIn("_GLOBAL__sub_I", symbols, lib)


class HostProgram(unittest.TestCase):
    """QuillonHost.exe as Windows starts it: a 32-bit program for the GUI
    subsystem, so no console opens beside it, hardened as the plugin is where
    that applies to an executable, and needing nothing but system DLLs."""

    def test_is_a_hardened_32bit_gui_program_needing_only_system_dlls(self):
        pe = pefile.PE(os.environ["QUILLON_HOST"])
        self.assertEqual((pe.FILE_HEADER.Machine, pe.FILE_HEADER.Characteristics & 0x2000),
                         (0x14C, 0))
        self.assertEqual(pe.OPTIONAL_HEADER.Subsystem, SUBSYSTEM_WINDOWS_GUI)
        flags = pe.OPTIONAL_HEADER.DllCharacteristics
        self.assertEqual(hex(flags & (DYNAMIC_BASE | NX_COMPAT)), hex(DYNAMIC_BASE | NX_COMPAT))
        self.assertTrue(getattr(pe, "DIRECTORY_ENTRY_BASERELOC", None))
        for section in pe.sections:
            ch = section.Characteristics
            self.assertFalse(ch & SCN_MEM_WRITE and ch & (SCN_MEM_EXECUTE | SCN_MEM_SHARED),
                             section.Name)
        imports = {e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(imports, SYSTEM_DLLS | {"comdlg32.dll"})


if __name__ == "__main__":
    unittest.main()
