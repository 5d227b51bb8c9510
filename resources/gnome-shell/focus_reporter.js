// Tells ORB which window has the keyboard focus. Under Wayland no client may ask the
// compositor that, so the shell says it: a signal on the session bus each time the focus
// moves, and a method for the window in front now (ORB asks it when it starts).
//
// The payload is one JSON string, {"v":1,"seq":N,"window":ID,"pid":PID,"wmClass":"..."}:
// window 0 when no window has the focus, pid 0 when the shell cannot tell; seq counts the
// reports, so that ORB can tell which signals are older than an answer to GetFocus. ORB
// subscribes to the signal from the owner of org.gnome.Shell only, so no other client can
// speak for us.

const ORB_FOCUS_PATH = '/jp/tarn/OrbFocus';
const ORB_FOCUS_INTERFACE_XML = `
<node>
  <interface name="jp.tarn.OrbFocus">
    <method name="GetFocus">
      <arg type="s" direction="out" name="payload"/>
    </method>
    <signal name="FocusChanged">
      <arg type="s" name="payload"/>
    </signal>
  </interface>
</node>`;

function orbFocusOf(window) {
    if (!window)
        return {window: 0, pid: 0, wmClass: ''};
    const pid = window.get_pid();
    return {window: window.get_id(), pid: pid > 0 ? pid : 0, wmClass: window.get_wm_class() ?? ''};
}

class OrbFocusReporter {
    constructor(connection, display) {
        this._display = display;
        this._window = null;
        this._windowClassId = 0;
        this._last = '';
        this._sequence = 0;
        this._object = Gio.DBusExportedObject.wrapJSObject(ORB_FOCUS_INTERFACE_XML, this);
        this._object.export(connection, ORB_FOCUS_PATH);
        this._focusId = display.connect('notify::focus-window', () => this._onFocus());
        this._onFocus();
    }

    // The last report: the focus handler runs at once on every change, so it is the
    // window in front now.
    GetFocus() {
        return this._payload();
    }

    destroy() {
        this._display.disconnect(this._focusId);
        this._watchWindow(null);
        this._object.unexport();
    }

    _onFocus() {
        this._watchWindow(this._display.focus_window);
        this._report();
    }

    // A Wayland client may name its class only after its first frame, when it already
    // has the focus: the class is followed too.
    _watchWindow(window) {
        if (this._window && this._windowClassId)
            this._window.disconnect(this._windowClassId);
        this._window = window;
        this._windowClassId = window ? window.connect('notify::wm-class', () => this._report()) : 0;
    }

    _payload() {
        return JSON.stringify({v: 1, seq: this._sequence, ...orbFocusOf(this._window)});
    }

    _report() {
        const focus = JSON.stringify(orbFocusOf(this._window));
        if (focus === this._last)
            return;
        this._last = focus;
        this._sequence++;
        this._object.emit_signal('FocusChanged', new GLib.Variant('(s)', [this._payload()]));
    }
}
