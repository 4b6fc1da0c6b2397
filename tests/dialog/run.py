#!/usr/bin/env python3
"""Drives Quorpa.exe's settings dialog under Wine with the UI robot.

    run.py --build BUILD --source SOURCE CASE

Each case copies Quorpa.exe into a fresh folder of its own (so its INI file
starts as the case says), runs the robot's script against it, and checks the
transcript (prompts, focus, control texts), the INI file and, for the
registration cases, the registry of the build's Wine prefix. The prefix
persists between runs, so every registry case deletes the keys it looks at
first. Needs an X display (scripts/with-xvfb gives one). The checks, the
outcome and the start of a Windows program are shared with the end-to-end
cases (tests/support/harness.py).
"""
import argparse
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
from harness import (CONFIRM, INFORMATION, STOP_LIMIT_MS, TITLE, WARNING, Failure, check,  # noqa: E402
                     expect_equal, free_port, read_bmp, run_case, submit_env, wine, win_path)

ABOUT_TITLE = 'Quorpaのﾊﾞｰｼﾞｮﾝ情報'
PROMPT_RANGE = '-60 から 60 までの整数を入力してください。'
PROMPT_INTEGER = '整数を入力してください。'
PROMPT_LONG = '256 文字以内で入力してください。'
PROMPT_EXT_LONG = '16 文字以内で入力してください。'
MAIL_TITLE = '送信設定'
PROMPT_PORT = '1 から 65535 までの整数を入力してください。'
PROMPT_PIN = '証明書の指紋は SHA-256 の16進数64桁で入力してください。'
PROMPT_ADDRESS = 'メールアドレスは < > や空白、改行を付けずに入力してください。'
PROMPT_ADDRESS_ASCII = 'メールアドレスは半角の英数字と記号で入力してください。\n全角文字や半角カナを含むアドレスには送信できません。'
NOTE_STORED = '※空欄のままなら登録済みのパスワードを使います'
NOTE_NONE = '※パスワードは登録されていません'
MSG_EMPTY_EXT = '拡張子が入力されていません。拡張子を入力してから関連付け登録してください。'
PROMPT_EXT_FORM = '拡張子は . に続けて半角の英数字、_ または - を 1 から 15 文字で入力してください。'

MIME = 'MIME\\Database\\Content Type\\application/x-tv-program-info'
MIME_DIGITAL = 'MIME\\Database\\Content Type\\application/x-tv-program-digital-info'
MIME_MULTI = 'MIME\\Database\\Content Type\\application/x-multi-tv-program-info'
MIME_MULTI_DIGITAL = 'MIME\\Database\\Content Type\\application/x-multi-tv-program-digital-info'
MIMES = [MIME, MIME_DIGITAL, MIME_MULTI, MIME_MULTI_DIGITAL]
REG_KEYS = ['.epg', 'epg', '.abc', '\\ab', '.ab', '.epgx', '．ｅｐｇ', '.tvp', '.tvpi', '.tvpid', '．ｔｖｐｉｄｘｙｚ',
            '.abcdefghijklmnop', '.abcdefghijklmno', 'epgfile', 'epgfile\\Shell', 'epgfile\\Shell\\open',
            'epgfile\\Shell\\open\\command', *MIMES]
# The capabilities for Windows' default apps (HKLM: below HKEY_LOCAL_MACHINE,
# USER: below HKEY_CURRENT_USER).
CAPABILITIES = 'Software\\Quorpa\\Capabilities'
CAPABILITY_KEYS = [CAPABILITIES, CAPABILITIES + '\\FileAssociations', CAPABILITIES + '\\MimeAssociations']
REGISTERED_APPS = 'Software\\RegisteredApplications'
MACHINE = 'HKEY_LOCAL_MACHINE\\Software\\Classes'
MEMORY = 'HKEY_CURRENT_USER\\Software\\Quorpa\\Associations\\'
USER_CLASSES = 'HKEY_CURRENT_USER\\Software\\Classes'
MSG_USER_ONLY = ('管理者の権限がないため、iEPGファイルの関連付けはこのユーザーだけに登録しました。\n'
                 '他のユーザーは、それぞれのユーザーで関連付け登録してください。')
MSG_CONFIRM_UNREG = '拡張子.tvpi、.tvpid、.epgのiEPGファイルの関連付けを解除します。よろしいですか？'
MSG_CHOOSE = ('Windowsがファイルを開くプログラムを尋ねたときは、Quorpaを選んでください。\n'
              '他のプログラムが開くときは、ファイルを右クリックし、プログラムから開く→別のプログラムを選択で'
              'Quorpaを選んで、常に使うをオンにしてください。')
# The box after 関連付け登録, for the typed extension {ext}, written to
# HKEY_LOCAL_MACHINE: the file type and the program's keys, then each
# extension with its memory and the MIME types saved with it.
MSG_REGISTERED = '\n'.join([
    '関連付けをすべてのユーザーに登録しました。登録したレジストリキー:',
    'HKEY_LOCAL_MACHINE\\Software\\Classes\\epgfile',
    'HKEY_LOCAL_MACHINE\\Software\\Classes\\Applications\\Quorpa.exe',
    'HKEY_LOCAL_MACHINE\\Software\\Quorpa\\Capabilities',
    'HKEY_LOCAL_MACHINE\\Software\\RegisteredApplications\\Quorpa',
    'HKEY_CURRENT_USER\\Software\\Quorpa\\Associations\\.tvpi',
    'HKEY_LOCAL_MACHINE\\Software\\Classes\\.tvpi',
    'HKEY_LOCAL_MACHINE\\Software\\Classes\\MIME\\Database\\Content Type\\application/x-tv-program-info',
    'HKEY_LOCAL_MACHINE\\Software\\Classes\\MIME\\Database\\Content Type\\application/x-multi-tv-program-info',
    'HKEY_CURRENT_USER\\Software\\Quorpa\\Associations\\.tvpid',
    'HKEY_LOCAL_MACHINE\\Software\\Classes\\.tvpid',
    'HKEY_LOCAL_MACHINE\\Software\\Classes\\MIME\\Database\\Content Type\\application/x-tv-program-digital-info',
    'HKEY_LOCAL_MACHINE\\Software\\Classes\\MIME\\Database\\Content Type\\application/x-multi-tv-program-digital-info',
    'HKEY_CURRENT_USER\\Software\\Quorpa\\Associations\\{ext}',
    'HKEY_LOCAL_MACHINE\\Software\\Classes\\{ext}', '', MSG_CHOOSE])


def registered_box(ext='.epg'):
    """The box; ext None: the typed extension is .tvpi or .tvpid."""
    text = MSG_REGISTERED
    if not ext:
        text = text.replace('HKEY_CURRENT_USER\\Software\\Quorpa\\Associations\\{ext}\n', '')
        text = text.replace('HKEY_LOCAL_MACHINE\\Software\\Classes\\{ext}\n', '')
    return (text.replace('{ext}', ext or ''), INFORMATION)
MSG_REMOVED = '関連付けを解除しました。削除したレジストリキー:'
MSG_KEPT = '他のプログラムのものなので残したレジストリキー:'
MSG_NOTHING_REMOVED = '削除する関連付けはありませんでした。'


def user(keys):
    """The robot's names of keys below HKEY_CURRENT_USER\\Software\\Classes."""
    return ['HKCU:' + key for key in keys]

PRESET_INI = ('[setting]\r\nrcpt=a@example.jp\r\nsmtpsvr=127.0.0.1\r\nstartad=-5\r\n'
              'endad=10\r\nsmtpport=2525\r\nlogoutput=0\r\n')

SETTING_CONTROLS = [
    (1, 'Button', 'OK'), (2, 'Button', 'ｷｬﾝｾﾙ'), (1005, 'Button', '関連付け登録'),
    (1000, 'Edit', None), (1001, 'Edit', None), (1002, 'Edit', None), (1003, 'Edit', None),
    (1004, 'Edit', None),
    (-1, 'Static', '宛先アドレス:'), (-1, 'Static', 'SMTPサーバ:'), (-1, 'Static', '開始時間調整:'),
    (-1, 'Static', '終了時間調整:'), (-1, 'Static', 'iEPG拡張子:'), (-1, 'Static', '分'),
    (-1, 'Static', '分'), (-1, 'Static', '※関連付け登録で使用'),
    (1010, 'Button', '関連付け解除'), (1011, 'Button', '送信設定...'), (1013, 'Button', '送信完了を表示する'),
    (1012, 'Button', 'ログを記録する'), (1014, 'Button', '予約履歴...'), (1015, 'Button', '放送局...'),
]


class Runner:
    def __init__(self, build, source, folder):
        self.build = build
        self.source = source
        self.prefix = os.path.join(build, 'wineprefix')
        self.robot = os.path.join(build, 'robot.exe')
        self.folder = folder
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        self.exe = os.path.join(folder, 'Quorpa.exe')
        shutil.copy(os.path.join(build, 'Quorpa.exe'), self.exe)
        self.runs = 0

    def wine(self, *args, env=None):
        with open(os.path.join(self.folder, 'wine.log'), 'ab') as log:
            return wine(self.source, self.prefix, [self.robot, *args], log, 120, env)

    def robot_run(self, script, refuse_root=False):
        """Runs the script against Quorpa.exe; returns (records, exit code).
        refuse_root: HKEY_CLASSES_ROOT refuses Quorpa's first key there, as
        it refuses a standard user's on Windows (the program's test seam)."""
        self.runs += 1
        script_path = os.path.join(self.folder, f'script{self.runs}.txt')
        transcript = os.path.join(self.folder, f'transcript{self.runs}.json')
        with open(script_path, 'w', encoding='utf-8') as f:
            f.write('\n'.join(script) + '\n')
        env = dict(os.environ, QUORPA_TEST_REFUSE_CLASSES_ROOT='1') if refuse_root else None
        code = self.wine(win_path(script_path), win_path(transcript), win_path(self.exe), env=env)
        with open(transcript, encoding='utf-8') as f:
            records = [json.loads(line) for line in f if line.strip()]
        errors = [r['error'] for r in records if 'error' in r]
        check(not errors, f'robot: {errors}')
        check(code == 0, f'exit code {code}')
        return records

    def ini_path(self):
        return os.path.join(os.path.dirname(self.exe), 'Quorpa.ini')

    def write_ini(self, text):
        with open(self.ini_path(), 'wb') as f:
            f.write(text.encode('cp932'))

    def ini(self):
        """The INI file's raw bytes, or None when there is none."""
        if not os.path.exists(self.ini_path()):
            return None
        with open(self.ini_path(), 'rb') as f:
            return f.read()

    def settings(self):
        data = self.ini()
        check(data is not None, 'no INI file')
        values = {}
        for line in data.decode('cp932').splitlines():
            if '=' in line:
                key, value = line.split('=', 1)
                values[key] = value
        return values

    def protect(self, text):
        """text as the program stores a password (hexadecimal digits)."""
        out = os.path.join(self.folder, 'protected.txt')
        check(self.wine('--tool', 'protect', text, win_path(out)) == 0, 'protect failed')
        with open(out) as f:
            return f.read()

    def unprotect(self, stored):
        """The clear text of a stored password, or None when it does not decrypt."""
        out = os.path.join(self.folder, 'clear.txt')
        if self.wine('--tool', 'unprotect', stored, win_path(out)) != 0:
            return None
        with open(out, encoding='utf-8') as f:
            return f.read()

    def reg_delete(self):
        program = ['HKLM:Software\\Quorpa', 'USER:Software\\Quorpa']
        check(self.wine('--tool', 'regdelete', *REG_KEYS, *user(REG_KEYS), APP, 'HKCU:' + APP, *program) == 0,
              'regdelete failed')
        for root in ('HKLM:', 'USER:'):
            check(self.wine('--tool', 'regunset', root + REGISTERED_APPS, 'Quorpa') == 0, 'regunset failed')

    def reg_dump(self, keys):
        """{key: {name: (type, size, data)}} or {key: None} for a missing key."""
        out = os.path.join(self.folder, 'registry.json')
        check(self.wine('--tool', 'regdump', win_path(out), *keys) == 0, 'regdump failed')
        dump = {key: {} for key in keys}
        with open(out, encoding='utf-8') as f:
            for line in f:
                r = json.loads(line)
                if r.get('missing'):
                    dump[r['key']] = None
                else:
                    dump[r['key']][r['name']] = (r['type'], r['size'], r['data'])
        return dump


# ---- helpers for the cases ------------------------------------------------------

def boxes(records):
    return [(r['text'], r['flags']) for r in records if 'box' in r]


def focuses(records):
    return [r['focus'] for r in records if 'focus' in r]


def texts(records):
    return [r['text'] for r in records if 'control' in r]


def typed(control, text):
    return f'type {control} "{text}"'


def settext(control, text):
    return f'settext {control} "{text}"'


REG_SZ, REG_BINARY = 1, 3


ANALOG = {'': (REG_SZ, 8, 'epgfile'), 'Content Type': (REG_SZ, 30, 'application/x-tv-program-info')}
DIGITAL = {'': (REG_SZ, 8, 'epgfile'), 'Content Type': (REG_SZ, 38, 'application/x-tv-program-digital-info')}


def registration(ext, command):
    """What a complete registration leaves for the typed extension ext (None:
    .tvpi or .tvpid was typed)."""
    keys = {
        '.tvpi': ANALOG,
        '.tvpid': DIGITAL,
        'epgfile': {'': (REG_SZ, 5, 'iEPG'), 'EditFlags': (REG_BINARY, 4, '00000100')},
        'epgfile\\Shell': {'': (REG_SZ, 5, 'open')},
        'epgfile\\Shell\\open': {},
        'epgfile\\Shell\\open\\command': {'': (REG_SZ, len(command.encode('cp932')) + 1, command)},
        MIME: {'Extension': (REG_SZ, 6, '.tvpi')},
        MIME_DIGITAL: {'Extension': (REG_SZ, 7, '.tvpid')},
        MIME_MULTI: {'Extension': (REG_SZ, 6, '.tvpi')},
        MIME_MULTI_DIGITAL: {'Extension': (REG_SZ, 7, '.tvpid')},
    }
    if ext:
        keys[ext] = ANALOG
    return keys


def command_line(r):
    return f'"{win_path(r.exe)}" "%1"'


# ---- the cases ---------------------------------------------------------------------

def case_ok_saves(r):
    r.write_ini(PRESET_INI)
    rec = r.robot_run([
        f'dialog {TITLE}', 'controls', 'focus 1',
        'read 1000', 'read 1001', 'read 1002', 'read 1003', 'read 1004',
        typed(1000, 'user@example.jp'), typed(1001, 'mail.example.jp'),
        typed(1002, '-60'), typed(1003, '60'), 'click 1', 'gone'])
    controls = next(x['controls'] for x in rec if 'controls' in x)
    got = [(c['id'], c['class'], c['text'] if want is not None else None)
           for c, (_, _, want) in zip(controls, SETTING_CONTROLS)]
    expect_equal('controls in tab order', got, SETTING_CONTROLS)
    expect_equal('first focus', focuses(rec), [1])
    expect_equal('loaded fields', texts(rec), ['a@example.jp', '127.0.0.1', '-5', '10', '.epg'])
    expect_equal('message boxes', boxes(rec), [])
    expect_equal('saved settings', r.settings(),
                 {'rcpt': 'user@example.jp', 'smtpsvr': 'mail.example.jp', 'startad': '-60', 'endad': '60',
                  'smtpport': '2525', 'logoutput': '0'})


def case_save_fails(r):
    # An INI file that cannot be written (a folder stands in its place): OK
    # names it in a box and the dialog stays open with what was typed.
    os.makedirs(r.ini_path())
    rec = r.robot_run([f'dialog {TITLE}', typed(1000, 'user@example.jp'), 'click 1', 'ok',
                       'read 1000', 'click 2', 'gone'])
    message = f'設定ファイル({win_path(r.ini_path())})に書き込めません\n設定は保存されていません'
    expect_equal('message boxes', boxes(rec), [(message, WARNING)])
    expect_equal('the recipient after the failed save', texts(rec), ['user@example.jp'])


def case_cancel_keeps(r):
    r.write_ini(PRESET_INI)
    before = r.ini()
    rec = r.robot_run([f'dialog {TITLE}', typed(1000, 'other@example.jp'), typed(1002, '7'),
                       typed(1004, '.abc'), 'click 2', 'gone'])
    expect_equal('message boxes', boxes(rec), [])
    expect_equal('INI after Cancel', r.ini(), before)


def range_script(control, bad_inputs, good):
    script = [f'dialog {TITLE}']
    for text in bad_inputs:
        script += [typed(control, text), 'click 1', 'ok', f'focus {control}']
    return script + [typed(control, good), 'click 1', 'gone']


START_BAD = [('61', PROMPT_RANGE), ('-61', PROMPT_RANGE), ('', PROMPT_INTEGER),
             ('abc', PROMPT_INTEGER), ('1.5', PROMPT_INTEGER), ('12a', PROMPT_INTEGER),
             ('99999999999', PROMPT_INTEGER), ('-', PROMPT_INTEGER)]


def case_start_range(r):
    rec = r.robot_run(range_script(1002, [t for t, _ in START_BAD], '60'))
    expect_equal('prompts', boxes(rec), [(p, WARNING) for _, p in START_BAD])
    expect_equal('focus after each prompt', focuses(rec), [1002] * len(START_BAD))
    # The whole text is selected, so the user can retype it at once.
    expect_equal('selection after each prompt', [r['selection'] for r in rec if 'focus' in r],
                 [[0, len(t)] for t, _ in START_BAD])
    expect_equal('saved start adjustment', r.settings()['startad'], '60')


def case_end_range(r):
    bad = [('61', PROMPT_RANGE), ('-61', PROMPT_RANGE), ('', PROMPT_INTEGER)]
    # A bad start adjustment is reported first: the exchange stops there.
    script = [f'dialog {TITLE}', typed(1002, '61'), typed(1003, '61'), 'click 1', 'ok',
              'focus 1002', typed(1002, '0')]
    for text, _ in bad:
        script += [typed(1003, text), 'click 1', 'ok', 'focus 1003']
    rec = r.robot_run(script + [typed(1003, ' -60 '), 'click 1', 'gone'])
    expect_equal('prompts', boxes(rec), [(PROMPT_RANGE, WARNING)] + [(p, WARNING) for _, p in bad])
    expect_equal('focus after each prompt', focuses(rec), [1002] + [1003] * len(bad))
    expect_equal('saved adjustments', (r.settings()['startad'], r.settings()['endad']), ('0', '-60'))


def case_lengths_typed(r):
    rec = r.robot_run([
        f'dialog {TITLE}', typed(1000, 'a' * 256), typed(1001, 'b' * 257), typed(1004, '.tvpid.tvpid.tvpid'),
        'read 1000', 'read 1001', 'read 1004', 'click 1', 'gone'])
    expect_equal('lengths the controls took', [len(t) for t in texts(rec)], [256, 256, 16])
    expect_equal('extension after typing a seventeenth character', texts(rec)[2], '.tvpid.tvpid.tvp')
    expect_equal('message boxes', boxes(rec), [])
    s = r.settings()
    expect_equal('saved texts', (s['rcpt'], s['smtpsvr']), ('a' * 256, 'b' * 256))


def case_lengths_in_bytes(r):
    # The typing limit counts bytes as the check does (code page 932; UTF-8
    # for the password): what does not fit of what is typed or pasted is
    # left out, so OK never finds the field too long.
    r.write_ini(PRESET_INI)
    rec = r.robot_run([
        f'dialog {TITLE}', typed(1000, 'あ' * 130), typed(1001, 'b' * 255 + 'あc'), 'read 1000', 'read 1001',
        settext(1000, 'ab'), 'paste 1000 "' + 'ア' * 200 + '"', 'read 1000',
        # An address is ASCII (address_checks): the recipient is made one before OK.
        settext(1000, 'r@example.jp'),
        'click 1011', f'dialog {MAIL_TITLE}', 'check 1022', typed(1024, 'u'), typed(1025, 'あ' * 90),
        'click 1', 'gone', f'dialog {TITLE}', 'click 1', 'gone'])
    expect_equal('the fields', texts(rec), ['あ' * 128, 'b' * 255 + 'c', 'ア' * 127 + 'ab'])
    expect_equal('message boxes', boxes(rec), [])
    s = r.settings()
    expect_equal('saved texts', (s['rcpt'], s['smtpsvr']), ('r@example.jp', 'b' * 255 + 'c'))
    expect_equal('the stored password, decrypted', r.unprotect(s['smtppass']), 'あ' * 85)


def case_full_width_numbers(r):
    # Digits, signs and blanks typed with the IME on are the half-width ones
    # they mean; what is no number still is none.
    r.write_ini(PRESET_INI)
    bad = [('６１', PROMPT_RANGE), ('－１２０', PROMPT_RANGE), ('１２ａ', PROMPT_INTEGER),
           ('１．５', PROMPT_INTEGER), ('１　２', PROMPT_INTEGER)]
    script = [f'dialog {TITLE}']
    for text, _ in bad:
        script += [typed(1002, text), 'click 1', 'ok', 'focus 1002']
    script += [typed(1002, 'ー４５'), typed(1003, '　＋３０　'), 'click 1011', f'dialog {MAIL_TITLE}',
               typed(1020, '５８７'), 'click 1', 'gone', f'dialog {TITLE}', 'click 1', 'gone']
    rec = r.robot_run(script)
    expect_equal('prompts', boxes(rec), [(p, WARNING) for _, p in bad])
    s = r.settings()
    expect_equal('saved numbers', (s['startad'], s['endad'], s['smtpport']), ('-45', '30', '587'))


def case_lengths_read_back(r):
    # The longest value the dialog saves comes back whole at the next start
    # (here double-byte characters) and is saved whole again. An address
    # takes ASCII only (address_checks), so the user name shows it: 254 bytes.
    user = 'あ' * 127
    r.write_ini(f'[setting]\r\nsmtpsvr=127.0.0.1\r\nsmtpuser={user}\r\n')
    rec = r.robot_run(mail_dialog('read 1024', 'click 1', 'gone', f'dialog {TITLE}', 'click 1', 'gone'))
    expect_equal('the user name read from the INI file', texts(rec), [user])
    expect_equal('the saved user name', r.settings()['smtpuser'], user)


def case_address_checks(r):
    # An address that would end or extend a command, or one that is not
    # ASCII, is refused at OK with the field's prompt, in both dialogs and
    # before a connection test; one read from the INI file too.
    r.write_ini(PRESET_INI.replace('a@example.jp', '録画@example.jp'))
    bad = [('<a@example.jp>', PROMPT_ADDRESS), ('a b@example.jp', PROMPT_ADDRESS),
           ('a@example.jp> SIZE=1', PROMPT_ADDRESS), ('a\t@example.jp', PROMPT_ADDRESS),
           ('ｱ@example.jp', PROMPT_ADDRESS_ASCII)]
    script = [f'dialog {TITLE}', 'click 1', 'ok', 'focus 1000']
    for text, _ in bad:
        script += [settext(1000, text), 'click 1', 'ok', 'focus 1000']
    script += [settext(1000, 'r@example.jp'), 'click 1011', f'dialog {MAIL_TITLE}',
               settext(1030, '<me@example.jp>'), 'click 1', 'ok', 'focus 1030',
               settext(1030, '差出人@example.jp'), 'click 1029', 'ok', 'focus 1030',
               settext(1030, 'me@example.jp'), 'click 1', 'gone', f'dialog {TITLE}', 'click 1', 'gone']
    rec = r.robot_run(script)
    expect_equal('prompts', boxes(rec), [(PROMPT_ADDRESS_ASCII, WARNING)] + [(p, WARNING) for _, p in bad] +
                 [(PROMPT_ADDRESS, WARNING), (PROMPT_ADDRESS_ASCII, WARNING)])
    expect_equal('focus after each prompt', focuses(rec), [1000] * (len(bad) + 1) + [1030, 1030])
    s = r.settings()
    expect_equal('saved addresses', (s['rcpt'], s['mailfrom']), ('r@example.jp', 'me@example.jp'))


def case_lengths_checked(r):
    # Text that reaches a control without typing (here WM_SETTEXT, which
    # ignores the control's limit) is checked by the exchange; the limit
    # counts bytes, so 130 double-byte characters are too long.
    rec = r.robot_run([
        f'dialog {TITLE}',
        settext(1000, 'a' * 257), 'click 1', 'ok', 'focus 1000',
        settext(1000, 'あ' * 130), 'click 1', 'ok', 'focus 1000',
        settext(1000, 'r@example.jp'), settext(1001, 'c' * 300), 'click 1', 'ok', 'focus 1001',
        settext(1001, 'localhost'), settext(1004, '.abcdefghijklmnop'), 'click 1', 'ok', 'focus 1004',
        settext(1004, '.ep'), 'click 1', 'gone'])
    expect_equal('prompts', boxes(rec), [(PROMPT_LONG, WARNING)] * 3 + [(PROMPT_EXT_LONG, WARNING)])
    expect_equal('focus after each prompt', focuses(rec), [1000, 1000, 1001, 1004])
    s = r.settings()
    expect_equal('saved texts', (s['rcpt'], s['smtpsvr']), ('r@example.jp', 'localhost'))


def case_ext_not_saved(r):
    r.robot_run([f'dialog {TITLE}', typed(1004, '.abc'), 'click 1', 'gone'])
    expect_equal('saved keys', sorted(r.settings()),
                 sorted(['rcpt', 'smtpsvr', 'startad', 'endad', 'smtpport', 'logoutput']))
    rec = r.robot_run([f'dialog {TITLE}', 'read 1004', 'click 2', 'gone'])
    expect_equal('extension at the next start', texts(rec), ['.epg'])


def case_about(r):
    rec = r.robot_run([
        f'dialog {TITLE}', 'syscommand 0x10', f'dialog {ABOUT_TITLE}', 'controls', 'focus 1',
        'click 1', 'gone', f'dialog {TITLE}', 'read 1004', 'syscommand 0x1A',
        f'dialog {ABOUT_TITLE}', 'syscommand 0xF060', 'gone', f'dialog {TITLE}', 'click 2',
        'gone'])
    controls = next(x['controls'] for x in rec if 'controls' in x)
    expect_equal('about controls', [(c['id'], c['class']) for c in controls],
                 [(-1, 'Static'), (-1, 'Static'), (-1, 'Static'), (1, 'Button')])
    with open(os.path.join(r.source, 'VERSION'), encoding='ascii') as f:
        version = f.read().strip()
    expect_equal('about texts', [c['text'] for c in controls[1:]],
                 [f'Quorpa Version {version}', 'iEPG 番組を録画メールで送信', 'OK'])
    expect_equal('about box focus', focuses(rec), [1])
    expect_equal('settings dialog after the about box', texts(rec), ['.epg'])
    expect_equal('message boxes', boxes(rec), [])
    expect_equal('INI after Cancel', r.ini(), None)


def case_manifest(r):
    # The embedded manifest asks for Common Controls v6, which come from the
    # side-by-side store, not from the system folder.
    rec = r.robot_run([f'dialog {TITLE}', 'module comctl32.dll', 'click 2', 'gone'])
    path = next(x['path'] for x in rec if 'module' in x).lower()
    check('\\winsxs\\' in path and '6.0' in path, f'comctl32.dll loaded from {path!r}')
    # What Wine does not act on is read from the embedded manifest itself.
    with open(r.exe, 'rb') as f:
        data = f.read()
    start = data.find(b'<assembly ')
    manifest = data[start:data.find(b'</assembly>', start)].decode('utf-8')
    for entry in ['level="asInvoker"', '>true</dpiAware>', '>PerMonitorV2, system</dpiAwareness>',
                  '>ja-JP</activeCodePage>', '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}',
                  '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}']:
        check(entry in manifest, f'the manifest lacks {entry}')


def read_ico(path, size):
    """The size x size image of a 4-bit ICO file: rows of (r, g, b), None
    where the mask leaves the background."""
    with open(path, 'rb') as f:
        data = f.read()
    count, = struct.unpack_from('<H', data, 4)
    for i in range(count):
        width, _, _, _, _, _, _, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * i)
        if width == size:
            break
    else:
        raise Failure(f'{path} has no {size}x{size} image')
    palette = [tuple(data[offset + 40 + 4 * c + i] for i in (2, 1, 0)) for c in range(16)]
    xor = offset + 40 + 64
    xor_stride = (size * 4 + 31) // 32 * 4
    and_at = xor + xor_stride * size
    and_stride = (size + 31) // 32 * 4
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            byte = data[xor + xor_stride * y + x // 2]
            colour = palette[byte >> 4 if x % 2 == 0 else byte & 15]
            clear = data[and_at + and_stride * y + x // 8] & (0x80 >> (x % 8))
            row.append(None if clear else colour)
        rows.append(row)
    return rows[::-1]


def find_picture(screen, picture):
    """Top-left (x, y) where picture shows in screen, or None."""
    h, w = len(picture), len(picture[0])
    for y in range(len(screen) - h + 1):
        for x in range(len(screen[0]) - w + 1):
            if all(want is None or screen[y + j][x + i] == want
                   for j, row in enumerate(picture) for i, want in enumerate(row)):
                return x, y
    return None


def case_icons(r):
    # The settings dialog's caption shows resource 129 and the about box
    # resource 128 at 32x32; the pictures come from the screen.
    settings = os.path.join(r.folder, 'settings.bmp')
    about = os.path.join(r.folder, 'about.bmp')
    r.robot_run([f'dialog {TITLE}', f'shot "{win_path(settings)}"', 'syscommand 0x10',
                 f'dialog {ABOUT_TITLE}', f'shot "{win_path(about)}"', 'click 1', 'gone',
                 f'dialog {TITLE}', 'click 2', 'gone'])
    res = os.path.join(r.source, 'res')
    small = read_ico(os.path.join(res, 'QuorpaSmall.ico'), 16)
    check(find_picture(read_bmp(settings)[:32], small) is not None,
          'icon 129 is not in the settings dialog\'s caption')
    large = read_ico(os.path.join(res, 'Quorpa.ico'), 32)
    check(find_picture(read_bmp(about), large) is not None, 'icon 128 is not in the about box')
    # The large window icon (Alt-Tab) has a picture of its own at 100%,
    # 150% and 200%, so the system never stretches a smaller one.
    with open(os.path.join(res, 'Quorpa.ico'), 'rb') as f:
        data = f.read()
    sizes = [data[6 + 16 * i] for i in range(struct.unpack_from('<H', data, 4)[0])]
    expect_equal('the sizes of icon 128', sorted(sizes), [16, 32, 48, 64])


def registry_case(r, script, ext, want_boxes=(), keys=None):
    r.reg_delete()
    rec = r.robot_run([f'dialog {TITLE}'] + script + ['click 2', 'gone'])
    expect_equal('message boxes', boxes(rec), list(want_boxes))
    expect_equal('INI after Cancel', r.ini(), None)
    want = registration(ext, command_line(r)) if ext is not None else {}
    keys = keys or sorted(set(REG_KEYS) | set(want))
    got = r.reg_dump(keys)
    for key in keys:
        expect_equal(f'registry key {key!r}', got[key], want.get(key))
    return got


def case_reg_default(r):
    registry_case(r, ['click 1005', 'ok'], '.epg', [registered_box()])


def case_reg_twice(r):
    registry_case(r, ['click 1005', 'ok', 'click 1005', 'ok'], '.epg', [registered_box()] * 2)


def case_reg_no_dot(r):
    # Without its dot the text names no extension: the field's prompt, and
    # nothing is written.
    registry_case(r, [typed(1004, 'epg'), 'click 1005', 'ok'], None, [(PROMPT_EXT_FORM, WARNING)])


def case_reg_typed_extensions(r):
    # The extensions browsers save with are registered once whatever is
    # typed; the field takes sixteen bytes.
    for text, ext in [('.tvpid', ''), ('.tvpi', ''), ('.abcdefghijklmno', '.abcdefghijklmno')]:
        registry_case(r, [typed(1004, text), 'click 1005', 'ok'], ext, [registered_box(ext)])


def case_reg_path_with_spaces(r):
    # The command quotes the path; its size counts the code page 932 bytes.
    folder = os.path.join(r.folder, 'My Tools', '録画 予約')
    os.makedirs(folder)
    shutil.move(r.exe, os.path.join(folder, 'Quorpa.exe'))
    r.exe = os.path.join(folder, 'Quorpa.exe')
    registry_case(r, ['click 1005', 'ok'], '.epg', [registered_box()])


def case_reg_after_failed_check(r):
    # The range prompt shows, and the registration goes on with the
    # extension the dialog held before the click.
    registry_case(r, [typed(1002, '99'), typed(1004, '.abc'), 'click 1005', 'ok', 'ok'], '.epg',
                  [(PROMPT_RANGE, WARNING), registered_box()])


def case_reg_ext_too_long(r):
    # An extension that fails its own check registers nothing: nine
    # characters of eighteen bytes, and seventeen characters (set directly:
    # typing stops at sixteen bytes).
    registry_case(r, [settext(1004, '．ｔｖｐｉｄｘｙｚ'), 'click 1005', 'ok', settext(1004, '.abcdefghijklmnop'),
                      'click 1005', 'ok'],
                  None, [(PROMPT_EXT_LONG, WARNING)] * 2)


def case_reg_empty(r):
    r.reg_delete()
    root_before = r.reg_dump([''])['']
    registry_case(r, [typed(1004, ''), 'click 1005', 'ok'], None, [(MSG_EMPTY_EXT, WARNING)])
    root = r.reg_dump([''])['']
    expect_equal('values of HKEY_CLASSES_ROOT itself', root, root_before)
    check('Content Type' not in root and root.get('', (0, 0, ''))[2] != 'epgfile',
          f'HKEY_CLASSES_ROOT holds a registration: {root!r}')


def failing_registration(r, prepare, ext, message, want_present):
    """Registration that fails at one step: only that step's message, and
    the values written before it stay."""
    r.reg_delete()
    for tool, key in prepare:
        check(r.wine('--tool', tool, key) == 0, f'{tool} {key}')
    try:
        rec = r.robot_run([f'dialog {TITLE}', typed(1004, ext), 'click 1005', 'ok', 'click 2',
                           'gone'])
        expect_equal('message boxes', boxes(rec), [(message, WARNING)])
        full = registration(ext, command_line(r))
        got = r.reg_dump(sorted(set(REG_KEYS) | set(full)))
        for key in got:
            want = full[key] if key in want_present else None
            if key in want_present and want_present[key] is not None:
                want = want_present[key]
            expect_equal(f'registry key {key!r}', got[key], want)
    finally:
        r.reg_delete()  # volatile keys would break later cases


def case_reg_fail_ext_key(r):
    # The file type and the extensions before it stay: each points at a
    # complete file type.
    # (.ab is volatile: no non-volatile OpenWithProgids can go below it.)
    failing_registration(r, [('regvolatile', '.ab')], '.ab',
                         'レジストリキーHKEY_LOCAL_MACHINE\\Software\\Classes\\.ab\\OpenWithProgidsを生成出来ません',
                         dict.fromkeys(['epgfile', 'epgfile\\Shell', 'epgfile\\Shell\\open',
                                        'epgfile\\Shell\\open\\command', '.tvpi', '.tvpid', '.ab', *MIMES]))


def case_reg_fail_shell(r):
    # No non-volatile key can be made below a volatile one.
    failing_registration(r, [('regvolatile', 'epgfile')], '.epg',
                         'レジストリキーHKEY_LOCAL_MACHINE\\Software\\Classes\\epgfile\\Shellを生成出来ません',
                         {'epgfile': None})


def case_reg_fail_command(r):
    failing_registration(r, [('regcreate', 'epgfile'), ('regvolatile', 'epgfile\\Shell')], '.epg',
                         'レジストリキーHKEY_LOCAL_MACHINE\\Software\\Classes\\epgfile\\Shell\\open\\commandを生成出来ません',
                         {'epgfile': None, 'epgfile\\Shell': None})


def case_reg_per_user(r):
    # HKEY_CLASSES_ROOT refuses the first key: the same keys and values go
    # to the per-user place, and the user is told it is for this user only.
    r.reg_delete()
    rec = r.robot_run([f'dialog {TITLE}', 'click 1005', 'ok', 'click 2', 'gone'], refuse_root=True)
    report = registered_box()[0].replace(MACHINE, USER_CLASSES).replace('HKEY_LOCAL_MACHINE', 'HKEY_CURRENT_USER')
    report = report.replace('\n\n', f'\n\n{MSG_USER_ONLY}\n\n').replace('すべてのユーザー', 'このユーザーだけ')
    expect_equal('message boxes', boxes(rec), [(report, INFORMATION)])
    want = registration('.epg', command_line(r))
    got = r.reg_dump(REG_KEYS + user(want))
    for key in REG_KEYS:
        expect_equal(f'registry key {key!r}', got[key], None)
    for key, values in want.items():
        expect_equal(f'per-user registry key {key!r}', got['HKCU:' + key], values)
    got = r.reg_dump([root + key for root in ('HKLM:', 'USER:') for key in CAPABILITY_KEYS])
    for key, values in capabilities(r).items():
        expect_equal(f'machine-wide {key!r}', got['HKLM:' + key], None)
        expect_equal(f'per-user {key!r}', got['USER:' + key], values)


APP = 'Applications\\Quorpa.exe'
OPEN_WITH_KEYS = ['.epg\\OpenWithProgids', '.tvpi\\OpenWithProgids', '.tvpid\\OpenWithProgids',
                  'epgfile\\DefaultIcon', APP, APP + '\\SupportedTypes', APP + '\\shell\\open\\command']
EPGFILE = (REG_SZ, 8, 'epgfile')


def open_with(r):
    """The keys for the shell's "open with" list that a registration of .epg adds."""
    icon = f'"{win_path(r.exe)}",0'
    command = command_line(r)
    return {
        '.epg\\OpenWithProgids': {'epgfile': (0, 0, '')},  # REG_NONE, empty
        '.tvpi\\OpenWithProgids': {'epgfile': (0, 0, '')},
        '.tvpid\\OpenWithProgids': {'epgfile': (0, 0, '')},
        'epgfile\\DefaultIcon': {'': (REG_SZ, len(icon.encode('cp932')) + 1, icon)},
        APP: {'FriendlyAppName': (REG_SZ, 7, 'Quorpa')},
        APP + '\\SupportedTypes': {'.tvpi': (REG_SZ, 1, ''), '.tvpid': (REG_SZ, 1, ''), '.epg': (REG_SZ, 1, '')},
        APP + '\\shell\\open\\command': {'': (REG_SZ, len(command.encode('cp932')) + 1, command)},
    }


def capabilities(r):
    """The capabilities a registration of .epg writes, below the software key;
    the description is the program's string resource 104."""
    description = f'@{win_path(r.exe)},-104'
    return {
        CAPABILITIES: {'ApplicationName': (REG_SZ, 7, 'Quorpa'),
                       'ApplicationDescription': (REG_SZ, len(description.encode('cp932')) + 1, description)},
        CAPABILITIES + '\\FileAssociations': {'.tvpi': EPGFILE, '.tvpid': EPGFILE, '.epg': EPGFILE},
        CAPABILITIES + '\\MimeAssociations': {
            'application/x-tv-program-info': EPGFILE, 'application/x-tv-program-digital-info': EPGFILE,
            'application/x-multi-tv-program-info': EPGFILE, 'application/x-multi-tv-program-digital-info': EPGFILE},
    }


def removed(*lines):
    return '\n'.join([MSG_REMOVED, *lines])


def machine_removed(keys, place=MACHINE, software='HKEY_LOCAL_MACHINE'):
    """The lines of the keys removed from one place: the file type and the
    program's keys first, then keys (of the extensions), as the table has them."""
    return [f'{place}\\epgfile', f'{place}\\{APP}', f'{software}\\{CAPABILITIES}',
            f'{software}\\{REGISTERED_APPS}\\Quorpa', *[f'{place}\\{key}' for key in keys]]


def case_reg_open_with(r):
    # Registration adds the "open with" keys and the capabilities beside the
    # others; unregistration removes them with the rest.
    r.reg_delete()
    r.robot_run([f'dialog {TITLE}', 'click 1005', 'ok', 'click 2', 'gone'])
    expect_equal('open-with keys', r.reg_dump(OPEN_WITH_KEYS), open_with(r))
    machine_caps = ['HKLM:' + key for key in CAPABILITY_KEYS]
    got = r.reg_dump(machine_caps + ['HKLM:' + REGISTERED_APPS])
    expect_equal('capabilities', {key: got['HKLM:' + key] for key in CAPABILITY_KEYS}, capabilities(r))
    expect_equal('registered application', got['HKLM:' + REGISTERED_APPS].get('Quorpa'),
                 (REG_SZ, 29, 'Software\\Quorpa\\Capabilities'))
    rec = r.robot_run([f'dialog {TITLE}', 'click 1010', 'yes', 'ok', 'click 2', 'gone'])
    report = removed(*machine_removed(['.tvpi', MIME, MIME_MULTI, '.tvpid', MIME_DIGITAL, MIME_MULTI_DIGITAL, '.epg']),
                     *[MEMORY + ext for ext in ('.tvpi', '.tvpid', '.epg')])
    expect_equal('report', boxes(rec)[1:], [(report, INFORMATION)])
    expect_equal('open-with keys after', r.reg_dump(OPEN_WITH_KEYS), {key: None for key in OPEN_WITH_KEYS})
    got = r.reg_dump(machine_caps + ['HKLM:Software\\Quorpa', 'HKLM:' + REGISTERED_APPS])
    expect_equal('capabilities after', [got[key] for key in machine_caps + ['HKLM:Software\\Quorpa']],
                 [None] * 4)
    # Only the value is Quorpa's: Windows' key stays, even empty.
    check(got['HKLM:' + REGISTERED_APPS] is not None, 'RegisteredApplications itself was deleted')
    expect_equal('registered application after', got['HKLM:' + REGISTERED_APPS].get('Quorpa'), None)


def case_unreg_taken_over(r):
    # Registered in both places; since then another program has taken .epg
    # over in HKEY_CLASSES_ROOT, and the per-user MIME entry names another
    # extension. Unregistering removes only what still points at Quorpa.
    r.reg_delete()
    r.robot_run([f'dialog {TITLE}', 'click 1005', 'ok', 'click 2', 'gone'])
    r.robot_run([f'dialog {TITLE}', 'click 1005', 'ok', 'click 2', 'gone'], refuse_root=True)
    check(r.wine('--tool', 'regset', '.epg', '', 'OtherTV.epg') == 0, 'regset .epg')
    check(r.wine('--tool', 'regset', 'HKCU:' + MIME, 'Extension', '.tvp') == 0, 'regset MIME')
    keys = sorted(registration('.epg', '')) + ['.epg\\OpenWithProgids']
    before = r.reg_dump(keys + user(keys))
    try:
        rec = r.robot_run([f'dialog {TITLE}', 'click 1010', 'no', 'click 2', 'gone'])
        expect_equal('boxes when declined', boxes(rec), [(MSG_CONFIRM_UNREG, CONFIRM)])
        expect_equal('registry when declined', r.reg_dump(keys + user(keys)), before)

        rec = r.robot_run([f'dialog {TITLE}', 'click 1010', 'yes', 'ok', 'click 2', 'gone'])
        # Per user the MIME type names another extension: kept. In
        # HKEY_LOCAL_MACHINE .epg belongs to another program: Quorpa's
        # "open with" entry goes, the key stays.
        report = removed(*machine_removed(['.tvpi', MIME_MULTI, '.tvpid', MIME_DIGITAL, MIME_MULTI_DIGITAL, '.epg'],
                                          USER_CLASSES, 'HKEY_CURRENT_USER'),
                         *machine_removed(['.tvpi', MIME, MIME_MULTI, '.tvpid', MIME_DIGITAL, MIME_MULTI_DIGITAL,
                                           '.epg\\OpenWithProgids\\epgfile']),
                         *[MEMORY + ext for ext in ('.tvpi', '.tvpid', '.epg')])
        report += '\n'.join(['', '', MSG_KEPT, f'{USER_CLASSES}\\{MIME}', f'{MACHINE}\\.epg'])
        expect_equal('boxes', boxes(rec), [(MSG_CONFIRM_UNREG, CONFIRM), (report, INFORMATION)])
        after = r.reg_dump(keys + user(keys))
        kept = {'.epg': {'': (REG_SZ, 12, 'OtherTV.epg'), 'Content Type': ANALOG['Content Type']},
                'HKCU:' + MIME: before['HKCU:' + MIME]}
        for key in keys + user(keys):
            expect_equal(f'registry key {key!r}', after[key], kept.get(key))
    finally:
        r.reg_delete()


def case_unreg_foreign_values(r):
    # Quorpa registered .tvp (an earlier typed extension) and then the
    # defaults; since then another program has taken .tvpi over and added
    # itself to .tvpid's open-with list. Unregistering takes Quorpa's values
    # away, .tvp's included, and leaves the other program's.
    r.reg_delete()
    r.robot_run([f'dialog {TITLE}', typed(1004, '.tvp'), 'click 1005', 'ok', 'click 2', 'gone'])
    r.robot_run([f'dialog {TITLE}', 'click 1005', 'ok', 'click 2', 'gone'])
    check(r.wine('--tool', 'regset', '.tvpi', '', 'OtherTV.tvpi') == 0, 'regset .tvpi')
    check(r.wine('--tool', 'regset', '.tvpid\\OpenWithProgids', 'OtherTV.tvpid', '') == 0, 'regset .tvpid')
    try:
        rec = r.robot_run([f'dialog {TITLE}', 'click 1010', 'yes', 'ok', 'click 2', 'gone'])
        report = removed(*machine_removed([
            '.tvpi\\OpenWithProgids\\epgfile', '.tvpid\\(既定)', '.tvpid\\Content Type',
            '.tvpid\\OpenWithProgids\\epgfile', MIME_DIGITAL, MIME_MULTI_DIGITAL, '.epg', '.tvp']),
            *[MEMORY + ext for ext in ('.tvpi', '.tvpid', '.epg', '.tvp')])
        report += '\n'.join(['', '', MSG_KEPT, *[f'{MACHINE}\\{key}' for key in ['.tvpi', MIME, MIME_MULTI, '.tvpid']]])
        confirm = MSG_CONFIRM_UNREG.replace('.epgの', '.epg、.tvpの')  # .tvp is remembered
        expect_equal('boxes', boxes(rec), [(confirm, CONFIRM), (report, INFORMATION)])
        keys = ['.epg', '.tvp', '.tvpi', '.tvpi\\OpenWithProgids', '.tvpid', '.tvpid\\OpenWithProgids', *MIMES,
                'epgfile', APP, 'HKLM:' + CAPABILITIES]
        expect_equal('registry after', r.reg_dump(keys), {
            '.epg': None, '.tvp': None,
            '.tvpi': {'': (REG_SZ, 13, 'OtherTV.tvpi'), 'Content Type': ANALOG['Content Type']},
            '.tvpi\\OpenWithProgids': None,
            '.tvpid': {}, '.tvpid\\OpenWithProgids': {'OtherTV.tvpid': (REG_SZ, 1, '')},
            MIME: {'Extension': (REG_SZ, 6, '.tvpi')}, MIME_DIGITAL: None,
            MIME_MULTI: {'Extension': (REG_SZ, 6, '.tvpi')}, MIME_MULTI_DIGITAL: None,
            'epgfile': None, APP: None, 'HKLM:' + CAPABILITIES: None})
    finally:
        r.reg_delete()


def case_unreg_other_copy(r):
    # The file type runs another copy of Quorpa (moved, or of another
    # user): 関連付け解除 here leaves that place as it is and says so.
    r.reg_delete()
    r.robot_run([f'dialog {TITLE}', 'click 1005', 'ok', 'click 2', 'gone'])
    other = '"C:\\Other\\Quorpa.exe" "%1"'
    check(r.wine('--tool', 'regset', 'epgfile\\Shell\\open\\command', '', other) == 0, 'regset command')
    keys = sorted(registration('.epg', other)) + ['HKLM:' + CAPABILITIES]
    before = r.reg_dump(keys)
    try:
        rec = r.robot_run([f'dialog {TITLE}', 'click 1010', 'yes', 'ok', 'click 2', 'gone'])
        expect_equal('boxes', boxes(rec), [(MSG_CONFIRM_UNREG, CONFIRM),
                                           ('\n'.join([MSG_NOTHING_REMOVED, '', MSG_KEPT, f'{MACHINE}\\epgfile']),
                                            INFORMATION)])
        expect_equal('the registry after', r.reg_dump(keys), before)
    finally:
        r.reg_delete()


FOREIGN_KEYS = ['*', 'exefile', 'exefile\\shell', 'exefile\\shell\\open\\command', '.lnk', '.lnk\\OpenWithProgids',
                'lnkfile', 'lnkfile\\shell\\open\\command', '*\\Content Type', 'exefile\\shell\\Content Type']
MSG_LNK_OPEN_WITH = ('拡張子.lnkは他のプログラムが開くように設定されているため、そのままにして、'
                     'プログラムから開くの一覧にQuorpaを加えました。')


def case_reg_refuses_foreign(r):
    # * and exefile\shell name no extension: the prompt, nothing written.
    # .lnk belongs to lnkfile: it keeps it, Quorpa only joins its "open
    # with" list, and 関連付け解除 leaves every key of theirs as it was.
    r.reg_delete()
    before = r.reg_dump(FOREIGN_KEYS)
    check(before['.lnk'] is not None and before['.lnk'].get('', (0, 0, ''))[2] == 'lnkfile',
          f'the prefix has no .lnk of lnkfile: {before[".lnk"]!r}')
    rec = r.robot_run([f'dialog {TITLE}', typed(1004, '*'), 'click 1005', 'ok', 'focus 1004',
                       typed(1004, 'exefile\\shell'), 'click 1005', 'ok', 'click 2', 'gone'])
    expect_equal('boxes', boxes(rec), [(PROMPT_EXT_FORM, WARNING)] * 2)
    expect_equal('the focus after the prompt', focuses(rec), [1004])
    expect_equal('their keys', r.reg_dump(FOREIGN_KEYS), before)
    expect_equal('the registration', r.reg_dump(['epgfile', 'USER:Software\\Quorpa']),
                 {'epgfile': None, 'USER:Software\\Quorpa': None})
    try:
        rec = r.robot_run([f'dialog {TITLE}', typed(1004, '.lnk'), 'click 1005', 'ok', 'click 2', 'gone'])
        text = registered_box('.lnk')[0].replace(f'{MACHINE}\\.lnk\n', f'{MACHINE}\\.lnk\\OpenWithProgids\n')
        text = text.replace('\n\nWindows', f'\n\n{MSG_LNK_OPEN_WITH}\n\nWindows')
        expect_equal('boxes', boxes(rec), [(text, INFORMATION)])
        after = r.reg_dump(FOREIGN_KEYS)
        expect_equal('.lnk', after['.lnk'], before['.lnk'])
        expect_equal('lnkfile', after['lnkfile\\shell\\open\\command'], before['lnkfile\\shell\\open\\command'])
        expect_equal('.lnk\\OpenWithProgids', after['.lnk\\OpenWithProgids'],
                     dict(before['.lnk\\OpenWithProgids'] or {}, epgfile=(0, 0, '')))
        # A remembered key that names no extension (made by hand) is never
        # acted on, nor asked about.
        check(r.wine('--tool', 'regcreate', 'USER:Software\\Quorpa\\Associations\\*') == 0, 'regcreate')
        rec = r.robot_run([f'dialog {TITLE}', 'click 1010', 'yes', 'ok', 'click 2', 'gone'])
        expect_equal('the question', boxes(rec)[0][0], MSG_CONFIRM_UNREG.replace('.epgの', '.epg、.lnkの'))
        expect_equal('their keys after 関連付け解除', r.reg_dump(FOREIGN_KEYS), before)
        memory = 'USER:Software\\Quorpa\\Associations\\'
        expect_equal('Quorpa\'s own keys after 関連付け解除', r.reg_dump(['epgfile', memory + '.lnk', memory + '*']),
                     {'epgfile': None, memory + '.lnk': None, memory + '*': {}})
    finally:
        r.reg_delete()
        if before['.lnk\\OpenWithProgids'] is None:
            r.wine('--tool', 'regdelete', '.lnk\\OpenWithProgids')


# ---- the mail account dialog ------------------------------------------------------

PIN = 'AB:' * 31 + 'CD'


def mail_dialog(*commands):
    """Opens the mail account dialog from the settings dialog and runs commands in it."""
    return [f'dialog {TITLE}', 'click 1011', f'dialog {MAIL_TITLE}', *commands]


def case_mail_checks(r):
    # The port and the fingerprint are checked like the adjustments; the
    # encryption buttons propose the usual port only while the port is the
    # previous choice's usual one.
    r.write_ini(PRESET_INI)
    bad = [('0', PROMPT_PORT), ('65536', PROMPT_PORT), ('', PROMPT_INTEGER), ('x25', PROMPT_INTEGER)]
    script = mail_dialog('controls', 'focus 1020', 'read 1020', 'read 1025', 'read 1027')
    for text, _ in bad:
        script += [typed(1020, text), 'click 1', 'ok', 'focus 1020']
    script += [typed(1020, '25'), typed(1028, PIN[:-1]), 'click 1', 'ok', 'focus 1028',
               typed(1028, PIN), 'check 1022', 'read 1020', 'check 1023', 'read 1020',
               'check 1021', 'read 1020', typed(1020, '2465'), 'check 1023', 'read 1020',
               typed(1020, '65535'), 'click 1', 'gone', f'dialog {TITLE}', 'click 1', 'gone']
    rec = r.robot_run(script)
    controls = next(x['controls'] for x in rec if 'controls' in x)
    expect_equal('mail dialog controls in tab order',
                 [(c['id'], c['class'], c['text']) for c in controls if c['id'] != -1], [
        (1020, 'Edit', '2525'), (1021, 'Button', 'なし'), (1022, 'Button', 'STARTTLS'),
        (1023, 'Button', 'SSL/TLS'), (1024, 'Edit', ''), (1025, 'Edit', ''),
        (1027, 'Static', NOTE_NONE), (1026, 'Button', '登録済みのパスワードを消去'), (1028, 'Edit', ''),
        (1030, 'Edit', ''), (1029, 'Button', '接続テスト'), (1, 'Button', 'OK'), (2, 'Button', 'ｷｬﾝｾﾙ')])
    expect_equal('prompts', boxes(rec), [(p, WARNING) for _, p in bad] + [(PROMPT_PIN, WARNING)])
    expect_equal('focus', focuses(rec), [1020] * (len(bad) + 1) + [1028])
    expect_equal('fields', texts(rec), ['2525', '', NOTE_NONE, '587', '465', '25', '2465'])
    s = r.settings()
    expect_equal('saved mail settings', (s['smtpport'], s['smtpssl'], s['smtpuser'], s['smtpcert']),
                 ('65535', '2', '', PIN))
    check('smtppass' not in s, f'a password was written: {s!r}')


def case_mail_ok_cancel(r):
    # The mail account dialog's OK hands its values to the settings dialog,
    # whose Cancel discards them; the settings dialog's OK writes every key.
    r.write_ini(PRESET_INI)
    before = r.ini()
    fill = [typed(1020, '587'), 'check 1022', typed(1024, 'taro@example.jp'), typed(1025, 'pa55=word'),
            typed(1028, PIN.lower())]
    rec = r.robot_run(mail_dialog(*fill, 'click 1', 'gone', f'dialog {TITLE}', 'click 2', 'gone'))
    expect_equal('INI after the settings dialog\'s Cancel', r.ini(), before)
    r.robot_run(mail_dialog(*fill, 'click 2', 'gone', f'dialog {TITLE}', 'click 1', 'gone'))
    expect_equal('keys after the mail dialog\'s Cancel', sorted(r.settings()),
                 sorted(['rcpt', 'smtpsvr', 'startad', 'endad', 'smtpport', 'logoutput']))
    rec = r.robot_run(mail_dialog(*fill, 'click 1', 'gone', f'dialog {TITLE}', 'click 1', 'gone'))
    expect_equal('message boxes', boxes(rec), [])
    s = r.settings()
    stored = s.pop('smtppass')
    expect_equal('saved settings', s,
                 {'rcpt': 'a@example.jp', 'smtpsvr': '127.0.0.1', 'startad': '-5', 'endad': '10',
                  'smtpport': '587', 'logoutput': '0', 'smtpssl': '1', 'smtpuser': 'taro@example.jp',
                  'smtpcert': PIN.lower()})
    check(b'pa55' not in r.ini() and all(c in '0123456789ABCDEF' for c in stored) and stored,
          f'stored password {stored!r}')
    expect_equal('the stored password, decrypted', r.unprotect(stored), 'pa55=word')


def case_mail_password_any_character(r):
    # The password goes to AUTH as UTF-8 and is stored so: a character that
    # code page 932 lacks survives from the field to the stored password.
    password = 'pä€ß𠮷'
    r.write_ini(PRESET_INI)
    r.robot_run(mail_dialog('check 1022', typed(1024, 'u'), typed(1025, password), 'click 1', 'gone',
                            f'dialog {TITLE}', 'click 1', 'gone'))
    expect_equal('the stored password, decrypted', r.unprotect(r.settings()['smtppass']), password)


def case_mail_password_kept(r):
    # Left empty, the password field keeps the stored password; the box
    # clears it. A login without encryption to a server elsewhere is
    # pointed out at OK, and saved all the same.
    stored = r.protect('secret')
    r.write_ini(PRESET_INI + f'smtpssl=1\r\nsmtpuser=u1\r\nsmtppass={stored}\r\n')
    rec = r.robot_run(mail_dialog('read 1025', 'read 1027', typed(1024, 'u2'), 'click 1', 'gone',
                                  f'dialog {TITLE}', 'click 1', 'gone'))
    expect_equal('password field and note', texts(rec), ['', NOTE_STORED])
    s = r.settings()
    expect_equal('user and password after OK', (s['smtpuser'], s['smtppass']), ('u2', stored))
    rec = r.robot_run([f'dialog {TITLE}', typed(1001, '192.0.2.1'), 'click 1011', f'dialog {MAIL_TITLE}',
                       'check 1021', 'check 1026', 'click 1', 'gone', f'dialog {TITLE}', 'click 1', 'ok',
                       'gone'])
    expect_equal('message boxes', boxes(rec), [(MSG_CLEAR_TEXT % '192.0.2.1', WARNING)])
    s = r.settings()
    expect_equal('settings after clearing the password',
                 (s['smtpsvr'], s['smtpport'], s['smtpssl'], s['smtpuser'], s['smtppass']),
                 ('192.0.2.1', '2525', '0', 'u2', ''))


def start_sink(folder):
    """A real smtp-sink on a free loopback port that calls itself sink.test."""
    exe = shutil.which('smtp-sink') or '/usr/sbin/smtp-sink'
    port = free_port()
    args = [exe] + (['-u', 'nobody'] if os.geteuid() == 0 else []) + ['-h', 'sink.test', f'127.0.0.1:{port}', '10']
    log = open(os.path.join(folder, 'smtp-sink.log'), 'wb')
    proc = subprocess.Popen(args, stdout=log, stderr=subprocess.STDOUT)
    deadline = time.time() + 5
    while time.time() < deadline:
        try:
            socket.create_connection(('127.0.0.1', port), timeout=1).close()
            return proc, port
        except OSError:
            time.sleep(0.05)
    proc.kill()
    raise Failure('smtp-sink did not start')


MSG_SOCKET = 'メール送信に失敗しました(ソケットエラー)'
MSG_CLEAR_TEXT_REFUSED = ('メール送信に失敗しました(パスワードが暗号化されません)\n'
                          '暗号化(STARTTLSまたはSSL/TLS)を設定してください')


def case_mail_test_plain(r):
    # The connection test with the dialog's values, not the saved ones: a
    # plain server answers, a closed port and a login in clear text to a
    # server elsewhere fail with reserve mode's texts; the dialogs close
    # afterwards and nothing is saved.
    r.write_ini(PRESET_INI)
    before = r.ini()
    sink, port = start_sink(r.folder)
    try:
        rec = r.robot_run(mail_dialog(
            typed(1020, str(port)), 'click 1029', 'ok', typed(1020, str(free_port())), 'click 1029', 'ok',
            'click 2', 'gone', f'dialog {TITLE}', typed(1001, '192.0.2.1'), 'click 1011',
            f'dialog {MAIL_TITLE}', typed(1024, 'u'), typed(1025, 'p'), 'click 1029', 'ok', 'click 2', 'gone',
            f'dialog {TITLE}', 'click 2', 'gone'))
    finally:
        sink.kill()
        sink.wait()
    expect_equal('message boxes', boxes(rec),
                 [('接続テストに成功しました\nサーバ: sink.test\n暗号化: なし', INFORMATION),
                  (MSG_SOCKET, WARNING), (MSG_CLEAR_TEXT_REFUSED, WARNING)])
    expect_equal('INI after Cancel', r.ini(), before)


MSG_AUTH_REFUSED = 'メール送信に失敗しました(認証に失敗しました)\nSMTP認証のユーザ名とパスワードを確認してください'


def case_mail_test_submission(r):
    # Against the real submission server: STARTTLS, the pinned certificate
    # and the stored password (field left empty) pass; a wrong password typed
    # in the dialog is refused with reserve mode's text.
    sub = submit_env()
    stored = r.protect(sub['SUBMIT_PASS'])
    r.write_ini(PRESET_INI.replace('2525', sub['SUBMIT_PORT_STARTTLS'])
                .replace('127.0.0.1', sub['SUBMIT_SERVER_NAME']) +
                f'smtpssl=1\r\nsmtpuser={sub["SUBMIT_USER"]}\r\nsmtppass={stored}\r\n'
                f'smtpcert={sub["SUBMIT_CERT_SHA256"]}\r\n')
    before = r.ini()
    rec = r.robot_run(mail_dialog('click 1029', 'ok', typed(1025, sub['SUBMIT_PASS'] + 'x'), 'click 1029', 'ok',
                                  'click 2', 'gone', f'dialog {TITLE}', 'click 2', 'gone'))
    got = boxes(rec)
    expect_equal('message boxes', len(got), 2)
    success = re.fullmatch('接続テストに成功しました\nサーバ: (\\S+)\n暗号化: TLSv1\\.[23]', got[0][0])
    check(success is not None and got[0][1] == INFORMATION, f'success box: {got[0]!r}')
    expect_equal('server name', success.group(1), sub['SUBMIT_SERVER_NAME'])
    expect_equal('wrong password box', got[1], (MSG_AUTH_REFUSED, WARNING))
    expect_equal('INI after Cancel', r.ini(), before)


MSG_TEST_STOPPED = '接続テストを中止しました'
MSG_TEST_LATE = ('接続テストを中止しました(サーバが30秒以内に応答しませんでした)\n'
                 'SMTPサーバ名、ポート番号と暗号化の方式を確認してください')


def silent_test(r, between, want_box):
    """Runs the connection test against a port that takes the connection and
    never answers; `between` are the commands while it runs. Checks that only
    its button (reading 中止) is enabled meanwhile, the box, and that the
    dialog comes back as it was; returns the records."""
    with socket.socket() as silent:
        silent.bind(('127.0.0.1', 0))
        silent.listen(4)
        r.write_ini(PRESET_INI.replace('2525', str(silent.getsockname()[1])))
        rec = r.robot_run(mail_dialog('enabled', 'click 1029', 'waittext 1029 中止', 'enabled', *between, 'ok',
                                      'read 1029', 'enabled', 'click 2', 'gone', f'dialog {TITLE}', 'click 2',
                                      'gone'))
    enabled = [x['enabled'] for x in rec if 'enabled' in x]
    expect_equal('controls enabled during the test', enabled[1], [1029])
    expect_equal('controls enabled after the test', enabled[2], enabled[0])
    expect_equal('button after the test', texts(rec), ['接続テスト'])
    expect_equal('message boxes', boxes(rec), [(want_box, WARNING)])
    return rec


def case_mail_test_stop(r):
    # 中止 ends a test that hangs on a silent server at once.
    rec = silent_test(r, ['click 1029'], MSG_TEST_STOPPED)
    started = next(x['ms'] for x in rec if 'waited' in x)
    box = next(x['ms'] for x in rec if 'box' in x)
    check(box - started < STOP_LIMIT_MS, f'the stop took {box - started} ms')


def case_mail_test_deadline(r):
    # Left alone, the test ends by itself after its 30 seconds.
    rec = silent_test(r, ['pause 15000'], MSG_TEST_LATE)
    started = next(x['ms'] for x in rec if 'waited' in x)
    box = next(x['ms'] for x in rec if 'box' in x)
    check(29000 <= box - started < 32000, f'the test ended after {box - started} ms')


def case_mail_test_japanese_login(r):
    # A Japanese user name and password typed in the dialog log in: AUTH
    # sends them as UTF-8, as the server keeps them.
    sub = submit_env()
    r.write_ini(PRESET_INI.replace('2525', sub['SUBMIT_PORT_STARTTLS'])
                .replace('127.0.0.1', sub['SUBMIT_SERVER_NAME']) +
                f'smtpssl=1\r\nsmtpcert={sub["SUBMIT_CERT_SHA256"]}\r\n')
    rec = r.robot_run(mail_dialog(typed(1024, sub['SUBMIT_USER_JA']), typed(1025, sub['SUBMIT_PASS_JA']),
                                  'click 1029', 'ok', 'click 2', 'gone', f'dialog {TITLE}', 'click 2', 'gone'))
    got = boxes(rec)
    check(len(got) == 1 and got[0][0].startswith('接続テストに成功しました') and got[0][1] == INFORMATION,
          f'message boxes: {got!r}')


PROMPT_PIN_NEEDS_TLS = ('暗号化なしでは証明書の指紋を確かめられません。\n'
                        '暗号化(STARTTLSまたはSSL/TLS)を選ぶか、指紋を消してください。')
MSG_PIN_WITHOUT_TLS = ('メール送信に失敗しました(暗号化なしで証明書の指紋が設定されています)\n'
                       '暗号化なしでは証明書の指紋(smtpcert)を確かめられません\n'
                       '送信設定で暗号化(STARTTLSまたはSSL/TLS)を選ぶか、指紋を消してください')


def case_mail_pin_needs_tls(r):
    # A fingerprint without encryption: the connection test says what a
    # reservation would say, OK refuses it (the dialog stays, the fingerprint
    # selected), and with STARTTLS chosen it is saved.
    r.write_ini(PRESET_INI)
    rec = r.robot_run(mail_dialog(typed(1028, PIN), 'click 1029', 'ok', 'click 1', 'ok', 'focus 1028',
                                  'check 1022', 'click 1', 'gone', f'dialog {TITLE}', 'click 1', 'gone'))
    expect_equal('message boxes', boxes(rec), [(MSG_PIN_WITHOUT_TLS, WARNING), (PROMPT_PIN_NEEDS_TLS, WARNING)])
    expect_equal('focus after the refusal', focuses(rec), [1028])
    s = r.settings()
    expect_equal('saved settings', (s['smtpssl'], s['smtpcert']), ('1', PIN))


MSG_CLEAR_TEXT = ('SMTPサーバ(%s)はループバックアドレスではないため、暗号化なしではパスワードを送信しません'
                  '(メール送信は失敗します)\n送信設定で暗号化(STARTTLSまたはSSL/TLS)を設定してください')


STATIONS_TITLE = '放送局'
ROW_TITLE = '放送局の編集'
PROMPT_ROW_BLANK = '局名またはコードに空白は入れられません\n(空白の後ろはメモになります)'
# Station.txt as Notepad saves it in UTF-8 with its mark: a comment, a blank
# line, two blanks before a note.
KANSAI = '# 関西\r\n1 ＮＨＫ総合\r\n3 ＮＨＫ教育  memo\r\n\r\n8 DFS00C00 ＭＢＳ\r\n'


def station_rows(records):
    return [(r['rows'], r['selected']) for r in records if 'list' in r]


def case_station_table(r):
    # 放送局... lists the lines that map a channel; 変更, 追加 (a name with a
    # blank refused first) and 削除 edit the rows, and OK writes Station.txt
    # in its own encoding, the comment, the blank line and the untouched
    # line byte for byte. キャンセル writes nothing.
    station = os.path.join(r.folder, 'Station.txt')
    with open(station, 'wb') as f:
        f.write(b'\xef\xbb\xbf' + KANSAI.encode('utf-8'))
    rec = r.robot_run([
        f'dialog {TITLE}', 'click 1015', f'dialog {STATIONS_TITLE}', 'listrows 1060',
        'listselect 1060 1', 'click 1062', f'dialog {ROW_TITLE}', 'read 1065', 'read 1066', 'read 1067',
        typed(1065, '2'), 'click 1', 'gone', f'dialog {STATIONS_TITLE}',
        'click 1061', f'dialog {ROW_TITLE}', typed(1065, '12'), typed(1066, 'テレ 玉'), 'click 1', 'ok',
        'focus 1066', typed(1066, 'テレ玉'), 'click 1', 'gone', f'dialog {STATIONS_TITLE}',
        # 削除 is posted: the list is read once the dialog has had time to relist.
        'listselect 1060 0', 'click 1063', 'pause 500', 'listrows 1060', 'click 1', 'gone',
        f'dialog {TITLE}', 'click 1015', f'dialog {STATIONS_TITLE}', 'listselect 1060 0', 'click 1063',
        'click 2', 'gone', f'dialog {TITLE}', 'click 2', 'gone'])
    expect_equal('the table as read, then as edited', station_rows(rec), [
        ([['1', 'ＮＨＫ総合', ''], ['3', 'ＮＨＫ教育', 'memo'], ['8', 'DFS00C00', 'ＭＢＳ']], []),
        ([['2', 'ＮＨＫ教育', 'memo'], ['8', 'DFS00C00', 'ＭＢＳ'], ['12', 'テレ玉', '']], [])])
    expect_equal('the row to change', texts(rec), ['3', 'ＮＨＫ教育', 'memo'])
    expect_equal('message boxes', boxes(rec), [(PROMPT_ROW_BLANK, WARNING)])
    expect_equal('focus after the prompt', focuses(rec), [1066])
    with open(station, 'rb') as f:
        expect_equal('Station.txt', f.read(), b'\xef\xbb\xbf' + '# 関西\r\n2 ＮＨＫ教育 memo\r\n\r\n'
                     '8 DFS00C00 ＭＢＳ\r\n12 テレ玉\r\n'.encode('utf-8'))


CASES = {name[len('case_'):]: f for name, f in globals().items() if name.startswith('case_')}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build', required=True)
    parser.add_argument('--source', required=True)
    parser.add_argument('case', nargs='?')
    parser.add_argument('--list', action='store_true')
    args = parser.parse_args()
    if args.list:
        print(';'.join(CASES))
        return 0
    folder = os.path.join(os.path.abspath(args.build), 'dialog-tests', args.case)
    runner = Runner(os.path.abspath(args.build), os.path.abspath(args.source), folder)
    code = run_case(args.case, CASES[args.case], runner)
    if code == 1:
        print(f'(files in {folder})')
    return code


if __name__ == '__main__':
    sys.exit(main())
