"""Reads what the tests check in a 64-bit PE file: the header fields, the import tables, the
load configuration's fields and the sizes of the resources. Python standard library only,
so that it reads what GNU objdump does not show."""

import dataclasses
import pathlib
import struct

IMPORT_DIRECTORY = 1
RESOURCE_DIRECTORY = 2
LOAD_CONFIG_DIRECTORY = 10
DELAY_IMPORT_DIRECTORY = 13

GUARD_CF = 0x4000  # IMAGE_DLLCHARACTERISTICS_GUARD_CF
RT_ICON = 3
RT_GROUP_ICON = 14


@dataclasses.dataclass
class Section:
    name: str
    rva: int
    virtual_size: int
    raw_offset: int
    raw_size: int


class PeFile:
    def __init__(self, path):
        self.path = pathlib.Path(path)
        self.data = self.path.read_bytes()
        if self.data[:2] != b"MZ":
            raise ValueError(f"{path}: no MZ header")
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        (self.machine, count, self.time_stamp, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        if struct.unpack_from("<H", self.data, optional)[0] != 0x20B:
            raise ValueError(f"{path}: not PE32+")
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", self.data,
                                                                      optional + 68)
        self.checksum = struct.unpack_from("<I", self.data, optional + 64)[0]
        self.image_base = struct.unpack_from("<Q", self.data, optional + 24)[0]
        self.stack_reserve = struct.unpack_from("<Q", self.data, optional + 72)[0]
        directories = struct.unpack_from("<I", self.data, optional + 108)[0]
        self.directories = [struct.unpack_from("<II", self.data, optional + 112 + 8 * i)
                            for i in range(directories)]
        self.sections = []
        table = optional + optional_size
        for i in range(count):
            name, vsize, rva, raw_size, raw_offset = struct.unpack_from(
                "<8sIIII", self.data, table + 40 * i)
            self.sections.append(Section(name.rstrip(b"\0").decode(), rva, vsize, raw_offset,
                                         raw_size))

    def offset(self, rva: int) -> int:
        for s in self.sections:
            if s.rva <= rva < s.rva + max(s.virtual_size, s.raw_size):
                return s.raw_offset + rva - s.rva
        raise ValueError(f"RVA {rva:#x} is in no section")

    def directory(self, index: int):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def _text(self, rva: int) -> str:
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self) -> list:
        """DLL names of the ordinary import table, as written in the file."""
        rva, _ = self.directory(IMPORT_DIRECTORY)
        names = []
        while rva:
            entry = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if entry[3] == 0:
                break
            names.append(self._text(entry[3]))
            rva += 20
        return names

    def u64(self, rva: int) -> int:
        return struct.unpack_from("<Q", self.data, self.offset(rva))[0]

    def delay_imports(self) -> list:
        """(DLL name, RVA of its address table) of each delay-load descriptor."""
        rva, _ = self.directory(DELAY_IMPORT_DIRECTORY)
        found = []
        while rva:
            entry = struct.unpack_from("<8I", self.data, self.offset(rva))
            if entry[1] == 0:
                break
            found.append((self._text(entry[1]), entry[3]))
            rva += 32
        return found

    def load_config(self) -> dict:
        """The fields of IMAGE_LOAD_CONFIG_DIRECTORY64 the tests read; {} without the directory."""
        rva, size = self.directory(LOAD_CONFIG_DIRECTORY)
        if not rva:
            return {}
        start = self.offset(rva)
        declared = struct.unpack_from("<I", self.data, start)[0]
        fields = {"size": declared}
        if declared >= 0x60:
            fields["dependent_load_flags"] = struct.unpack_from("<H", self.data, start + 0x4E)[0]
            fields["security_cookie"] = struct.unpack_from("<Q", self.data, start + 0x58)[0]
        if declared >= 0x94:
            (fields["check_pointer"], fields["dispatch_pointer"], fields["function_table"],
             fields["function_count"]) = struct.unpack_from("<QQQQ", self.data, start + 0x70)
            fields["guard_flags"] = struct.unpack_from("<I", self.data, start + 0x90)[0]
        return fields

    def guard_functions(self) -> list:
        """RVAs of the guard's table of valid call targets, as the load configuration lists them."""
        config = self.load_config()
        if not config.get("function_table"):
            return []
        stride = 4 + (config["guard_flags"] >> 28)  # extra bytes of metadata per entry
        start = self.offset(config["function_table"] - self.image_base)
        return [struct.unpack_from("<I", self.data, start + stride * i)[0]
                for i in range(config["function_count"])]

    def section_of(self, rva: int) -> str:
        for s in self.sections:
            if s.rva <= rva < s.rva + max(s.virtual_size, s.raw_size):
                return s.name
        return ""

    def resource_sizes(self) -> dict:
        """Bytes of resource data by type id (names as strings)."""
        rva, _ = self.directory(RESOURCE_DIRECTORY)
        sizes = {}
        if not rva:
            return sizes
        base = self.offset(rva)

        def walk(offset, type_id, depth):
            named, ids = struct.unpack_from("<HH", self.data, base + offset + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
                key = type_id if depth > 0 else (name if not name & 0x80000000 else str(name))
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, key, depth + 1)
                else:
                    size = struct.unpack_from("<I", self.data, base + target + 4)[0]
                    sizes[key] = sizes.get(key, 0) + size

        walk(0, None, 0)
        return sizes
