// The shell extension's reporter outside the shell: a stand-in display and windows, the
// real session bus (a private one, under dbus-run-session). Checks what reaches a listener
// of the bus: one report per change of window or class, in order, with the sequence that
// orders them against GetFocus, and nothing once the extension is disabled.
//
// Either format of the extension: the script is loaded by the legacy importer; the module
// by import(), from a copy whose import of the shell's Extension class is pointed at a
// stand-in.
//
//   gjs focus_reporter_test.js EXTENSION_DIR
const {Gio, GLib} = imports.gi;
const System = imports.system;

let failures = 0;
function check(what, ok, detail = '') {
    if (!ok) {
        failures++;
        printerr(`FAIL: ${what} ${detail}`);
    }
}

class FakeSignals {
    constructor() {
        this._handlers = new Map();
        this._next = 1;
    }
    connect(name, handler) {
        this._handlers.set(this._next, {name, handler});
        return this._next++;
    }
    disconnect(id) {
        if (!this._handlers.delete(id))
            throw new Error(`disconnect of unknown handler ${id}`);
    }
    emit(name) {
        for (const {name: n, handler} of [...this._handlers.values()]) {
            if (n === name)
                handler(this);
        }
    }
    get handlerCount() {
        return this._handlers.size;
    }
}

class FakeWindow extends FakeSignals {
    constructor(id, pid, wmClass) {
        super();
        Object.assign(this, {id, pid, wmClass});
    }
    get_id() { return this.id; }
    get_pid() { return this.pid; }
    get_wm_class() { return this.wmClass; }
}

class FakeDisplay extends FakeSignals {
    constructor() {
        super();
        this.focus_window = null;
    }
    focus(window) {
        this.focus_window = window;
        this.emit('notify::focus-window');
    }
}

function loadExtension(dir) {
    const [, bytes] = GLib.file_get_contents(`${dir}/extension.js`);
    const text = new TextDecoder().decode(bytes);
    if (!text.includes('export default')) {
        imports.searchPath.unshift(dir);
        return Promise.resolve(imports.extension.init());
    }
    const copy = GLib.dir_make_tmp('orb-extension-XXXXXX');
    GLib.file_set_contents(`${copy}/extension.js`,
        text.replace('resource:///org/gnome/shell/extensions/extension.js', './extension_stub.js'));
    GLib.file_set_contents(`${copy}/extension_stub.js`,
        'export class Extension { constructor(metadata) { this.metadata = metadata; } }\n');
    return import(`file://${copy}/extension.js`).then(module => {
        GLib.unlink(`${copy}/extension.js`);
        GLib.unlink(`${copy}/extension_stub.js`);
        GLib.rmdir(copy);
        return new module.default({uuid: 'test'});
    });
}

const display = new FakeDisplay();
globalThis.global = {display};

const bus = Gio.DBus.session;
const reports = [];
const loop = new GLib.MainLoop(null, false);
bus.signal_subscribe(bus.get_unique_name(), 'jp.tarn.OrbFocus', 'FocusChanged', '/jp/tarn/OrbFocus', null,
    Gio.DBusSignalFlags.NONE, (c, sender, path, iface, name, params) => {
        reports.push(JSON.parse(params.deep_unpack()[0]));
    });

// Lets the bus deliver what was sent until now.
function settle() {
    GLib.timeout_add(GLib.PRIORITY_DEFAULT, 200, () => {
        loop.quit();
        return GLib.SOURCE_REMOVE;
    });
    loop.run();
}

// The method is served on this thread's loop: the call waits on the loop, not on the bus.
function getFocus() {
    let result = null;
    let error = null;
    bus.call(bus.get_unique_name(), '/jp/tarn/OrbFocus', 'jp.tarn.OrbFocus', 'GetFocus', null,
        new GLib.VariantType('(s)'), Gio.DBusCallFlags.NONE, 2000, null, (c, res) => {
            try {
                result = JSON.parse(c.call_finish(res).deep_unpack()[0]);
            } catch (e) {
                error = e;
            }
            loop.quit();
        });
    loop.run();
    if (error)
        throw error;
    return result;
}

const editor = new FakeWindow(11, 4242, 'org.kde.kdenlive');
const player = new FakeWindow(12, -1, null);
display.focus_window = editor;

function runChecks(extension) {
    extension.enable();
    settle();
    check('a report at enable', reports.length === 1, JSON.stringify(reports));
    check('the window in front at enable', JSON.stringify(reports[0]) ===
        JSON.stringify({v: 1, seq: 1, window: 11, pid: 4242, wmClass: 'org.kde.kdenlive'}), JSON.stringify(reports[0]));

    display.focus(player);
    display.focus(player);  // the same window again: no change, no report
    editor.wmClass = 'elsewhere';
    editor.emit('notify::wm-class');  // no longer followed: not in front
    player.wmClass = 'mpv';
    player.emit('notify::wm-class');  // a class named late
    display.focus(null);
    settle();
    check('one report per change', reports.length === 4, JSON.stringify(reports));
    check('unknown pid and class', JSON.stringify(reports[1]) ===
        JSON.stringify({v: 1, seq: 2, window: 12, pid: 0, wmClass: ''}), JSON.stringify(reports[1]));
    check('the class named late', reports[2]?.wmClass === 'mpv' && reports[2]?.seq === 3, JSON.stringify(reports[2]));
    check('no window in front', JSON.stringify(reports[3]) ===
        JSON.stringify({v: 1, seq: 4, window: 0, pid: 0, wmClass: ''}), JSON.stringify(reports[3]));
    check('GetFocus gives the last report', JSON.stringify(getFocus()) === JSON.stringify(reports[3]),
        JSON.stringify(getFocus()));
    check('only the window in front is followed', editor.handlerCount === 0 && player.handlerCount === 0,
        `${editor.handlerCount} ${player.handlerCount}`);

    display.focus(editor);
    settle();
    extension.disable();
    check('disable lets go of the display and the window', display.handlerCount === 0 && editor.handlerCount === 0,
        `${display.handlerCount} ${editor.handlerCount}`);
    const before = reports.length;
    display.focus(player);
    settle();
    check('nothing after disable', reports.length === before, JSON.stringify(reports.slice(before)));
    let answer = null;
    try {
        answer = getFocus();
    } catch (e) {
    }
    check('GetFocus gone after disable', answer === null, JSON.stringify(answer));
}

const outer = new GLib.MainLoop(null, false);
loadExtension(ARGV[0]).then(runChecks).catch(e => {
    failures++;
    printerr(`FAIL: ${e}\n${e.stack}`);
}).finally(() => outer.quit());
outer.run();
if (failures > 0)
    System.exit(1);
print('focus reporter: all checks passed');
