# SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
# SPDX-License-Identifier: MIT
"""The built binaries themselves: what the library exports and imports,
how they are hardened, where their vector code lies, their ABI against the
release, the DLL's PDB, and the programs that run them apart from the
tool (the MSVC-ABI host, the layout host, the scrub's CPU probe)."""
import re
import shlex
import shutil

from . import runner
from .base import Skip, fail, run, which
from .debian import tool

# The oldest Windows each binary declares, written here, not taken from
# the toolchain: a change there must fail library.dll-tables.  The DLL and
# the tool alike: XP (5.1), or XP x64 and Server 2003 (5.2).
WINDOWS_VERSION = {32: '5.1', 64: '5.2'}


def library_exports(facts):
    """The shared library's dynamic symbols: VYKPgrMsgCollapse in the
    version node VYKOSTRA_1.0 and nothing else; its soname.  It and the tool
    hardened as Debian builds its binaries: full RELRO with immediate
    binding, a stack that cannot run, the stack protector and, where the
    build optimises, the C library's checked calls; the tool is PIE."""
    library, program = facts.target('library'), facts.target('tool')
    names = [line.split()[-1] for line in run([facts.nm, '-D', '--defined-only', library])
             .stdout.splitlines() if not re.search(r' A VYKOSTRA_1\.0(@@VYKOSTRA_1\.0)?$', line)]
    if names != ['VYKPgrMsgCollapse@@VYKOSTRA_1.0']:
        fail(f'exported: {names}; expected only VYKPgrMsgCollapse@@VYKOSTRA_1.0')
    hardened = [('dynamic', r'\(FLAGS\) +BIND_NOW'), ('dynamic', r'\(FLAGS_1\) +(Flags: )?NOW'),
                ('segments', 'GNU_RELRO'), ('segments', r'GNU_STACK( +[0-9a-fx]+)+ RW +0x'),
                ('imports', '__stack_chk_fail')]
    if not facts.instrumented and facts.build_type != 'Debug':
        hardened.append(('imports', r'__[a-z]*printf_chk'))
    for binary, extra in ((library, ('dynamic', r'\(SONAME\) +Library soname: \[libVYKOSTRA\.so\.1\]')),
                          (program, ('dynamic', r'\(FLAGS_1\) +(Flags: )?NOW PIE'))):
        read = {'dynamic': run([facts.readelf, '-dW', binary]).stdout,
                'segments': run([facts.readelf, '-lW', binary]).stdout,
                'imports': run([facts.nm, '-D', '--undefined-only', binary]).stdout}
        for where, pattern in (*hardened, extra):
            if not re.search(pattern, read[where]):
                fail(f"{binary}: no '{pattern}' in its {where}:\n{read[where]}")
    vector_code(facts)


def _pe_imports(dump):
    """(dll, function) pairs from objdump -p's import tables, the DLL's
    name in lower case."""
    pairs = []
    for block in re.finditer(r'DLL Name: ([^\n]+)\n[^\n]*((\n\t[0-9a-f]+\t +[0-9]+  [A-Za-z_0-9]+)+)',
                             dump):
        for name in re.findall(r'\n\t[0-9a-f]+\t +[0-9]+  ([A-Za-z_0-9]+)', block.group(2)):
            pairs.append((block.group(1).lower(), name))
    return pairs


def _listed(facts, name):
    """abi/NAME-ARCH.imports: the imports known to be in the Windows that
    NAME declares."""
    listing = facts.source / 'abi' / f'{name}-{facts.processor}.imports'
    return listing, {tuple(line.split()) for line in listing.read_text().splitlines()
                     if re.match(r'[a-z0-9]+\.dll ', line)}


# What the runtime's start-up code and its stream locks call, which no
# header declares: all in msvcrt.dll since Windows 2000.
UNDECLARED_RUNTIME = {'__getmainargs', '__initenv', '__p__commode', '__set_app_type',
                      '_amsg_exit', '_commode', '_initterm', '_lock', '_unlock'}


def _declared_for(facts, functions, version):
    """Fails unless mingw-w64's headers declare every function for Windows
    `version` (_WIN32_WINNT) and its msvcrt.dll 7.0: they keep what came
    later behind `_WIN32_WINNT >= 0x0600` and `__MSVCRT_VERSION__ >= 0x800`
    (Vista's GetTickCount64, which winpthreads calls, among them)."""
    major, minor = (int(part) for part in version.split('.'))
    headers = ('windows.h stdio.h stdlib.h string.h wchar.h wctype.h ctype.h locale.h io.h '
               'direct.h fcntl.h sys/stat.h sys/utime.h time.h process.h signal.h setjmp.h '
               'math.h malloc.h errno.h excpt.h').split()
    source = ''.join(f'#include <{h}>\n' for h in headers) + 'void imported(void) {\n'
    # (A header may give a variable as a macro, as __mb_cur_max.)
    source += ''.join(f'#ifndef {f}\n  (void)&{f};\n#endif\n' for f in sorted(functions)) + '}\n'
    work = facts.tests / 'dll-tables'
    work.mkdir(parents=True, exist_ok=True)
    (work / 'imported.c').write_text(source)
    winnt = f'0x{major * 256 + minor:04x}'
    said = run([facts.c_compiler, f'--target={facts.c_target}', f'--sysroot={facts.sysroot}',
                '-fsyntax-only', '-ferror-limit=0', '-w', f'-D_WIN32_WINNT={winnt}',
                '-D__MSVCRT_VERSION__=0x700', work / 'imported.c'], check=False)
    errors = said.stdout + said.stderr
    undeclared = set(re.findall(r"undeclared identifier '([A-Za-z_0-9]+)'", errors))
    if undeclared - UNDECLARED_RUNTIME:
        fail(f'imports what Windows {version} lacks (not declared for _WIN32_WINNT {winnt}): '
             f'{sorted(undeclared - UNDECLARED_RUNTIME)}')
    if [e for e in re.findall(r'error: [^\n]+', errors) if 'undeclared identifier' not in e]:
        fail(f'the imports could not be checked:\n{errors}')


def library_dll_tables(facts):
    """VYKOSTRA.dll exports VYKPgrMsgCollapse alone, undecorated, at
    ordinal 1, and imports exactly what abi/VYKOSTRA-ARCH.imports lists,
    each in the Windows it declares; the tool imports from kernel32.dll and
    msvcrt.dll alone, nothing that abi/pgrmsg-collapse-ARCH.imports does not
    list, and nothing that Windows lacks.  Both declare the oldest Windows
    they run on.  The DLL carries no time stamp, is marked DYNAMIC_BASE and
    NX_COMPAT (and NO_SEH where 32-bit), holds a version resource, and names
    its PDB by file name alone, whose GUID and age match."""
    library, program = facts.target('library'), facts.target('tool')
    version = WINDOWS_VERSION[facts.bits]
    dump = run([facts.objdump, '-p', library]).stdout
    tool_dump = run([facts.objdump, '-p', program]).stdout
    listing, wanted = _listed(facts, 'VYKOSTRA')
    imports = set(_pe_imports(dump))
    if imports != wanted:
        fail(f'{library} imports {sorted(imports)}; {listing.name} lists {sorted(wanted)}')
    for binary, text in ((library, dump), (program, tool_dump)):
        for of in ('OSystem', 'Subsystem'):
            found = re.search(rf'\nMajor{of}Version\t+([0-9]+)\nMinor{of}Version\t+([0-9]+)', text)
            if not found or f'{found[1]}.{found[2]}' != version:
                fail(f'{binary} declares {of} version {found and found[1]}.{found and found[2]}, '
                     f'expected {version}')
    tool_imports = _pe_imports(tool_dump)
    names = ' '.join(name for _, name in tool_imports)
    if 'GetModuleHandle' not in names or 'fwrite' not in names:
        fail(f'no imports read from {program}:\n{tool_dump}')
    strange = {dll for dll, _ in tool_imports} - {'kernel32.dll', 'msvcrt.dll'}
    if strange:
        fail(f'{program} imports from {sorted(strange)}')
    listing, known = _listed(facts, 'pgrmsg-collapse')
    new = sorted(set(tool_imports) - known)
    if new:
        fail(f'{program} imports what {listing.name} does not list:\n  '
             + '\n  '.join(' '.join(pair) for pair in new)
             + f'\nadd each only once it is known to be in Windows {version}\'s DLL')
    _declared_for(facts, {name for _, name in tool_imports} | {name for _, name in imports},
                  version)

    if not re.search(r'Export Address Table -- Ordinal Base 1\n\t\[ +0\] \+base\[ +1\] '
                     r'[0-9a-f]+ Export RVA\n\n', dump):
        fail(f'expected one export, at ordinal 1:\n{dump}')
    if not re.search(r'\[Ordinal/Name Pointer\] Table\n\t\[ +0\] VYKPgrMsgCollapse\n\n', dump):
        fail(f'expected the one export to be named VYKPgrMsgCollapse:\n{dump}')
    if not re.search(r'\nTime/Date\t+Thu Jan  1 00:00:00 1970\n', dump):
        fail(f'the DLL carries a time stamp:\n{dump}')
    flags = int(re.search(r'DllCharacteristics\t+([0-9a-f]+)', dump)[1], 16)
    pe32 = re.search(r'\nMagic\t+010b', dump)
    wanted_flags = 0x540 if pe32 else 0x140  # DYNAMIC_BASE, NX_COMPAT (, NO_SEH)
    if wanted_flags & ~flags:
        fail(f'DllCharacteristics {flags:#x} lacks {wanted_flags & ~flags:#x}')
    record = re.search(r'\(format RSDS signature ([0-9a-f]+) age ([0-9]+) pdb ([^)\n]*)\)', dump)
    if not record:
        fail(f'the DLL names no PDB:\n{dump}')
    if record[3] != 'VYKOSTRA.pdb':
        fail(f"the DLL names its PDB '{record[3]}', not 'VYKOSTRA.pdb'")
    pdbutil = which('llvm-pdbutil', 'llvm-pdbutil-19', 'llvm-pdbutil-14')
    if pdbutil:
        summary = run([pdbutil, 'dump', '-summary', library.parent / 'VYKOSTRA.pdb'],
                      check=False).stdout
        guid = re.search(r'GUID: {([0-9A-F-]+)}', summary)
        age = re.search(r'Age: ([0-9]+)', summary)
        if not guid or guid[1].replace('-', '').lower() != record[1] or age[1] != record[2]:
            fail(f"VYKOSTRA.pdb is not the DLL's (GUID {record[1]}, age {record[2]}):\n{summary}")
    data = library.read_bytes()
    for text in ('FileVersion', facts.version, 'ProductVersion', 'FileDescription', 'InternalName',
                 'OriginalFilename', 'VYKOSTRA.dll', 'ProductName', 'VYKOSTRA'):
        if text.encode('utf-16-le') not in data:
            fail(f"the version resource holds no '{text}'")
    vector_code(facts)


def symbolizer():
    return which('llvm-symbolizer', 'llvm-symbolizer-19', 'llvm-symbolizer-14')


# An instruction of MMX (no i686 has it either), SSE or later: on their
# registers, or one of the few that name none.
VECTOR = r'\t([a-z0-9]*(mxcsr|fence|movnt|prefetch|clflush|maskmov)|[^\n]*%[xyz]?mm[0-9])'
# The guarded loops, by their functions' names (as a PDB may give them,
# mangled too).
GUARDED = (r'::(ScrubSse2|ScrubAvx2)([<(]|$)|Vector(128|256)::|'
           r'^_Z.*[0-9](ScrubSse2|ScrubAvx2|Vector128|Vector256)[0-9A-Z]')


def _disassemble(facts, file):
    return run([facts.objdump, '-d', '-C', '--no-show-raw-insn', file]).stdout


def _unguarded(facts, file):
    """Each function of `file` that holds a vector instruction outside the
    guarded loops, with its first such instruction.  A DLL shows objdump no
    functions, only its sections: its instructions' functions are read from
    its PDB (llvm-symbolizer)."""
    code = _disassemble(facts, file)
    found, addresses = [], []
    for block in code.split('\n\n'):
        header = re.search(r'(^|\n)[0-9a-f]+ <([^\n]*)>:\n', block)
        name = header[2] if header else ''
        if name.startswith('.'):
            addresses += ['0x' + m[1] for m in re.finditer(r'\n *([0-9a-f]+):' + VECTOR, block)]
            continue
        line = re.search(r'[^\n]*' + VECTOR + r'[^\n]*', block)
        if line and not re.search(GUARDED, name):
            found.append(f'{name}: {line[0].strip()}')
    if addresses:
        reader = symbolizer()
        if not reader:
            fail(f'{file} names no functions, and no llvm-symbolizer (Debian: llvm) '
                 'was found to read them from its PDB')
        said = run([reader, f'--obj={file}', '--no-inlines', *addresses]).stdout
        names = [entry.split('\n')[0] for entry in said.strip('\n').split('\n\n')]
        found += [f'{n}: the instruction at {a}' for a, n in zip(addresses, names)
                  if not re.search(GUARDED, n)]
    return list(dict.fromkeys(found))


def vector_code(facts):
    """On x86, the library scrubs with vectors: SSE2 registers and, for
    long texts, AVX2 ones (not in instrumented builds, whose checks keep
    loops from being vectorised).  Where the build is for i686 without SSE
    (the 32-bit builds), no SSE or AVX instruction lies outside the
    functions of the loops that run only once the call has asked, in the
    library or in the tool's objects: a compiler that vectorises a loop
    elsewhere kills the host on a CPU without SSE."""
    if not facts.x86 or facts.instrumented:
        return
    library = facts.target('library')
    code = _disassemble(facts, library)
    for register in ('xmm', 'ymm'):
        if not re.search(rf'%{register}[0-9]', code):
            fail(f'{library} holds no instruction on {register} registers')
    if facts.bits != 32:
        return
    for file in (library, *facts.targets['tool_objects']):
        found = _unguarded(facts, file)
        if found:
            fail(f'{file} runs vector instructions outside the loops that ask the CPU first:\n  '
                 + '\n  '.join(found) + '\nThe 32-bit builds are for i686 without SSE: '
                 '-march=i686 in cmake/toolchain-*.cmake; a compiler whose own default for '
                 '32-bit code is SSE2 (a GCC configured --with-arch-32=x86-64) puts it '
                 'everywhere where that flag is missing.')


def toolchain_floor(facts):
    """toolchain.floor: a 32-bit build is for i686 without SSE because its
    toolchain says so, whatever the compiler's own default: a loop the
    compiler would vectorise, compiled with x86-64's SSE2 put first (as the
    default of a GCC configured --with-arch-32=x86-64), and then the build's
    flags, holds no vector instruction."""
    source, obj = facts.tests / 'floor.c', facts.tests / 'floor.o'
    source.write_text('void scale(float *a, int n) { for (int i = 0; i < n; ++i) a[i] *= 3; }\n')
    run([facts.c_compiler, *([f'--target={facts.c_target}'] if facts.c_target else []),
         '-march=x86-64', *shlex.split(facts.c_flags), '-O3', '-c', source, '-o', obj])
    found = re.search(r'[^\n]*' + VECTOR + r'[^\n]*', _disassemble(facts, obj))
    if found:
        fail(f'a 32-bit build compiled where the compiler defaults to SSE2 holds vector code '
             f'({found[0].strip()}): its toolchain must pin -march=i686')


def library_abi(facts, update=False):
    """The library's ABI against the baseline of its release (abi/ARCH.abi,
    the abidw description of the released library): the exported function
    and its symbol version, and the layout of every record it reaches.
    abidiff fails on any change to them (its status is a bit mask: 4 an ABI
    change, 8 an incompatible one); a library without debug information
    fails rather than passes.  With --update, the baseline is written anew
    from the built library: a deliberate change, made in the same commit and
    said so in CHANGELOG.md (`cmake --build build/PRESET --target abi-baseline`)."""
    arch = 'i386' if re.match(r'i.86$', facts.processor) else facts.processor
    baseline = facts.source / 'abi' / f'{arch}.abi'
    if not baseline.exists():
        raise Skip(f'no ABI baseline for {arch} in abi/')
    abidiff, abidw = which('abidiff'), which('abidw')
    if not abidiff or not abidw:
        raise Skip('abidiff and abidw are not installed (Debian: abigail-tools)')
    if facts.build_type in ('Release', 'MinSizeRel'):
        raise Skip(f'a {facts.build_type} build has no debug information to read the ABI from')
    library = facts.target('library')
    if update:
        # Only what a host sees: no build paths, no line numbers, no undefined
        # symbols, no types but those of the public header; type ids by content.
        baseline.write_text(run([abidw, '--no-corpus-path', '--no-show-locs',
                                 '--drop-undefined-syms', '--drop-private-types', '--headers-dir',
                                 facts.source / 'include', '--type-id-style', 'hash',
                                 library]).stdout)
        print(f'Wrote {baseline}')
        return
    done = run([abidiff, '--no-show-locs', '--fail-no-debug-info', baseline, library], check=False)
    if done.returncode != 0:
        fail(f'{library} differs from the ABI of its release (abidiff status {done.returncode}):\n'
             f'{done.stdout}{done.stderr}\nIf the change is deliberate, write the baseline anew '
             'with the target abi-baseline and say so in CHANGELOG.md.')


def pdb_reads_export(facts, dll):
    """The PDB beside `dll` reads the address of its one export back to
    VYKPgrMsgCollapse and a line of src/collapse.cpp, as a debugger reads a
    crash address."""
    dump = run([facts.objdump, '-p', dll]).stdout
    base = int(re.search(r'\nImageBase\t+([0-9a-f]+)', dump)[1], 16)
    rva = int(re.search(r'\+base\[ +1\] ([0-9a-f]+) Export RVA', dump)[1], 16)
    said = run([symbolizer(), f'--obj={dll}', hex(base + rva)]).stdout
    if not re.match(r'VYKPgrMsgCollapse\n[^\n]*[/\\]src[/\\]collapse\.cpp:[0-9]+', said):
        fail(f'the PDB reads {hex(base + rva)} in {dll} as:\n{said}')


def _msvc_work(facts):
    return facts.tests / 'msvc-host'


def msvc_host_link(facts):
    """An MSVC-ABI host (tests/msvc_host/host.c, clang for *-pc-windows-msvc,
    lld-link, no C runtime) linked against VYKOSTRA.lib and an import library
    made here for the few kernel32 functions it calls; its import table
    names VYKOSTRA.dll and VYKPgrMsgCollapse.  msvc-host.run runs it."""
    clang, lld_link = which('clang', 'clang-14'), which('lld-link', 'lld-link-14')
    if not (facts.msvc_import_library and clang and lld_link):
        raise Skip('an MSVC-ABI host needs VYKOSTRA.lib, clang and lld-link '
                   '(Debian: clang lld llvm)')
    work = _msvc_work(facts)
    work.mkdir(parents=True, exist_ok=True)
    shutil.copy(facts.target('library'), work)
    functions = ['CreateFileA', 'ReadFile', 'CloseHandle', 'ExitProcess']
    if facts.bits == 32:
        target, machine = 'i686-pc-windows-msvc', 'i386'
        functions = [f'{f}@{n}' for f, n in zip(functions, (28, 20, 4, 4))]
    else:
        target, machine = 'x86_64-pc-windows-msvc', 'i386:x86-64'
    (work / 'kernel32.def').write_text('LIBRARY kernel32.dll\nEXPORTS\n  '
                                       + '\n  '.join(functions) + '\n')
    run([facts.dlltool, '-m', machine, '-k', '-d', work / 'kernel32.def',
         '-l', work / 'kernel32.lib'])
    run([clang, f'--target={target}', '-ffreestanding', '-fno-builtin', '-O2', '-Wall', '-Werror',
         f'-I{facts.source}/include', '-c', facts.source / 'tests/msvc_host/host.c',
         '-o', work / 'host.obj'])
    run([lld_link, '/nologo', '/subsystem:console', '/entry:mainCRTStartup', '/nodefaultlib',
         f'/out:{work}/msvc-host.exe', work / 'host.obj', facts.msvc_import_library,
         work / 'kernel32.lib'])
    dump = run([facts.objdump, '-p', work / 'msvc-host.exe']).stdout
    if not re.search(r'DLL Name: VYKOSTRA\.dll\n[^\n]*\n\t[0-9a-f]+\t +[0-9]+  VYKPgrMsgCollapse\n',
                     dump):
        fail(f'msvc-host.exe does not import VYKPgrMsgCollapse from VYKOSTRA.dll:\n{dump}')


def program(facts, target, *args, cwd=None, cpu=None):
    """Runs a test program of this build (here), failing with all it
    printed unless it exits 0."""
    path = facts.target(target) if target else args[0]
    done = runner.run(facts, [path, *args[0 if target else 1:]], cwd=cwd or facts.tests, cpu=cpu)
    said = (done.stdout + done.stderr).decode(errors='replace')
    print(said, end='')
    if done.returncode == 77 and said.startswith('skipped: '):
        raise Skip(said[9:].strip())
    if done.returncode != 0:
        fail(f'exit status {done.returncode}')


# Which scrub loop a call runs on CPU models of qemu-user's: without AVX
# (Nehalem), with AVX but not AVX2 (SandyBridge) and with AVX2 (Haswell);
# for 32-bit builds also without SSE (Pentium II, where qemu-user raises
# SIGILL for any SSE instruction) and with SSE but not SSE2 (Pentium III).
# Each: the loop, and the oldest qemu-user that runs the model's
# instructions in software.
CPU_MODELS = {'Nehalem': ('sse2', '0'), 'SandyBridge': ('sse2', '0'), 'Haswell': ('avx2', '7.2')}
CPU_MODELS_32 = {'pentium2': ('nosse', '0'), 'pentium3': ('nosse', '0')}


def cpu_models(facts):
    return {**CPU_MODELS, **(CPU_MODELS_32 if facts.bits == 32 else {})}


def scrub_cpu(facts, way, model):
    """scrub.cpu.WAY.MODEL: the probe build of the library's sources, asked
    WAY (glibc's answer, or cpuid's), on MODEL (native: this CPU)."""
    out = facts.tests / f'scrub-probe-{way}-{model}.out'
    if model == 'native':
        program(facts, f'scrub_probe_{way}', 'native', out)
    else:
        loop, oldest = cpu_models(facts)[model]
        program(facts, f'scrub_probe_{way}', loop, out, cpu=(model, oldest))


# The same on Windows, where IsProcessorFeaturePresent answers as a row
# says (the features it says are present; none: Windows' own answers),
# with the loop expected of the 32-bit and the 64-bit DLL.
WINDOWS_ROWS = {'avx2-known': ('10,40', 'avx2', 'avx2'), 'avx2-unknown': ('10', 'sse2', 'sse2'),
                'avx-without-avx2': ('10,39,41', 'sse2', 'sse2'),
                'nothing': ('none', 'nosse', 'sse2'), 'sse-without-sse2': ('6', 'nosse', 'sse2'),
                'native': (None, 'native', 'native')}


def scrub_windows(facts, row):
    """scrub.windows.ROW: the probe build of the DLL's sources, told by
    Windows what the row says."""
    features, loop_32, loop_64 = WINDOWS_ROWS[row]
    program(facts, 'scrub_probe_windows', loop_32 if facts.bits == 32 else loop_64,
            facts.tests / f'scrub-probe-windows-{row}.out', *([features] if features else []))


def scrub_memcheck(facts):
    """The scrub reads whole aligned vectors across a text's ends; memcheck,
    as a host may run it, must take that without a word."""
    valgrind = tool('valgrind')
    run([valgrind, '-q', '--error-exitcode=1', facts.target('portable_tests'),
         '--gtest_filter=Scrub.*'])
