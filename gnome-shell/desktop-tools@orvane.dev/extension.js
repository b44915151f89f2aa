// Orvane desktop tools on GNOME Shell. GNOME gives ordinary clients no list of windows, so the
// tools ask this extension, over the session bus, for what the shell knows: windows in stacking
// order with their frames, the monitors, the focus. It also activates a window, places the
// selector's overlay windows above everything, and says when something the tools follow may
// have changed, so that they need not poll.
/* exported init */
const {Gio, GLib, Meta, Shell} = imports.gi;
const Main = imports.ui.main;

const BUS_NAME = 'dev.orvane.Shell';
const OBJECT_PATH = '/dev/orvane/Shell';

const INTERFACE = `<node>
  <interface name="dev.orvane.Shell">
    <!-- monitors (connector, x, y, width, height, scale) in the stage's pixels; whether the
         stage is laid out in logical pixels; the primary monitor's index; the focused window
         (0 for none); windows front to back (number, pid (0: unknown), WM_CLASS,
         GTK application id, the application's desktop entry name, title, frame x, y, width,
         height, monitor (-1: none), minimized, on screen, XWayland) -->
    <method name="GetState">
      <arg type="(a(sddddd)biua(uxssssddddibbb))" direction="out" name="state"/>
    </method>
    <method name="Activate">
      <arg type="u" direction="in" name="window"/>
      <arg type="b" direction="out" name="done"/>
    </method>
    <!-- Puts the toplevel titled "title" of the caller over the whole of the monitor whose
         connector is "connector", above everything, and keeps it there; when it has not been
         mapped yet, as soon as it is. -->
    <method name="PlaceOverlay">
      <arg type="s" direction="in" name="title"/>
      <arg type="s" direction="in" name="connector"/>
      <arg type="b" direction="out" name="done"/>
    </method>
    <signal name="Changed"/>
  </interface>
</node>`;

const SHOWN_TYPES = [
  Meta.WindowType.NORMAL, Meta.WindowType.DIALOG, Meta.WindowType.MODAL_DIALOG,
  Meta.WindowType.UTILITY, Meta.WindowType.TOOLBAR,
];

const MAX_PLACEMENTS = 16;
const MONITOR_ATTEMPTS = 20;
const PLACEMENT_LIFETIME_MS = 10000;

class DesktopTools {
  enable() {
    this._numbers = new WeakMap();
    this._taken = new Set();
    this._connectors = [];
    this._logical = false;
    this._placements = [];
    this._placed = new Map();
    this._windowSignals = new Map();
    this._globalSignals = [];
    this._changePending = 0;
    this._state = null;
    this._monitorRetry = 0;

    this._dbus = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
    this._dbus.export(Gio.DBus.session, OBJECT_PATH);
    this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
      Gio.BusNameOwnerFlags.NONE, null, null);

    const display = global.display;
    const monitors = Meta.MonitorManager.get();
    this._connect(display, 'window-created', (_d, window) => this._track(window));
    this._connect(display, 'notify::focus-window', () => this._changed());
    this._connect(display, 'restacked', () => this._changed());
    this._connect(global.workspace_manager, 'active-workspace-changed', () => this._changed());
    this._connect(Shell.WindowTracker.get_default(), 'tracked-windows-changed',
      () => this._changed());
    this._connect(monitors, 'monitors-changed', () => this._readMonitors());
    for (const actor of global.get_window_actors())
      this._track(actor.meta_window);
    this._readMonitors();
  }

  disable() {
    for (const [object, id] of this._globalSignals)
      object.disconnect(id);
    for (const [window, ids] of this._windowSignals) {
      for (const id of ids)
        window.disconnect(id);
    }
    if (this._changePending)
      GLib.source_remove(this._changePending);
    if (this._monitorRetry)
      GLib.source_remove(this._monitorRetry);
    Gio.bus_unown_name(this._nameId);
    this._dbus.unexport();
    this._dbus = null;
    this._windowSignals = null;
    this._globalSignals = null;
    this._placements = null;
    this._placed = null;
  }

  _connect(object, signal, callback) {
    this._globalSignals.push([object, object.connect(signal, callback)]);
  }

  // ---- methods ----

  // The state is read once per change: every signal that can change it drops the copy.
  GetState() {
    if (!this._state)
      this._state = this._readState();
    return this._state;
  }

  _readState() {
    const windows = this._windows();
    const workspace = global.workspace_manager.get_active_workspace();
    const focus = global.display.focus_window;
    const rows = windows.map(w => {
      const frame = w.get_frame_rect();
      const app = Shell.WindowTracker.get_default().get_window_app(w);
      const appName = app && !app.is_window_backed() ? app.get_name() || '' : '';
      return [
        this._number(w), w.get_pid() > 0 ? w.get_pid() : 0, w.get_wm_class() || '',
        w.get_gtk_application_id() || '', appName, w.get_title() || '',
        frame.x, frame.y, frame.width, frame.height, w.get_monitor(), w.minimized,
        !w.minimized && w.located_on_workspace(workspace),
        w.get_client_type() === Meta.WindowClientType.X11,
      ];
    });
    const monitors = [];
    for (let i = 0; i < global.display.get_n_monitors(); i++) {
      const r = global.display.get_monitor_geometry(i);
      monitors.push([this._connectors[i] || '', r.x, r.y, r.width, r.height,
        global.display.get_monitor_scale(i)]);
    }
    return new GLib.Variant('((a(sddddd)biua(uxssssddddibbb)))', [[
      monitors, this._logical, global.display.get_primary_monitor(),
      focus && SHOWN_TYPES.includes(focus.get_window_type()) ? this._number(focus) : 0, rows,
    ]]);
  }

  Activate(number) {
    const window = this._windows().find(w => this._number(w) === number);
    if (!window)
      return false;
    Main.activateWindow(window);
    return true;
  }

  PlaceOverlayAsync([title, connector], invocation) {
    const pid = this._callerPid(invocation.get_sender());
    if (pid === null) {
      invocation.return_value(new GLib.Variant('(b)', [false]));
      return;
    }
    const now = GLib.get_monotonic_time() / 1000;
    this._placements = this._placements.filter(p => p.until > now);
    if (this._placements.length >= MAX_PLACEMENTS)
      this._placements.shift();
    const placement = {title, connector, pid, until: now + PLACEMENT_LIFETIME_MS};
    this._placements.push(placement);
    for (const actor of global.get_window_actors())
      this._tryPlace(actor.meta_window);
    invocation.return_value(new GLib.Variant('(b)', [true]));
  }

  // ---- windows ----

  // Windows a user would call one, front to back: shown ones in stacking order, then hidden
  // ones (minimized, on another workspace), also in stacking order.
  _windows() {
    const all = global.get_window_actors().map(a => a.meta_window).filter(w =>
      w && !w.is_override_redirect() && SHOWN_TYPES.includes(w.get_window_type()) &&
      !this._placed.has(w));
    const stacked = global.display.sort_windows_by_stacking(all).reverse();
    const workspace = global.workspace_manager.get_active_workspace();
    const shown = w => !w.minimized && w.located_on_workspace(workspace);
    return stacked.filter(shown).concat(stacked.filter(w => !shown(w)));
  }

  // The window's number for the tools: Mutter's id when it fits in 32 bits (it is random and
  // stable for the window's life), else a free one; never 0, never two windows alike.
  _number(window) {
    let number = this._numbers.get(window);
    if (number !== undefined)
      return number;
    const id = window.get_id();
    number = Number(BigInt.asUintN(32, BigInt(id)) ^ BigInt.asUintN(32, BigInt(id) >> 32n));
    while (number === 0 || this._taken.has(number))
      number = (number + 1) >>> 0;
    this._numbers.set(window, number);
    this._taken.add(number);
    return number;
  }

  _track(window) {
    if (!window || this._windowSignals.has(window))
      return;
    const ids = [];
    const changed = () => this._changed();
    for (const signal of ['notify::title', 'position-changed', 'size-changed',
      'notify::minimized', 'workspace-changed', 'notify::wm-class', 'notify::gtk-application-id',
      'notify::on-all-workspaces'])
      ids.push(window.connect(signal, changed));
    ids.push(window.connect('unmanaged', () => {
      for (const id of ids)
        window.disconnect(id);
      this._windowSignals.delete(window);
      const number = this._numbers.get(window);
      if (number !== undefined)
        this._taken.delete(number);
      this._numbers.delete(window);
      this._placed.delete(window);
      this._changed();
    }));
    ids.push(window.connect('shown', () => this._tryPlace(window)));
    this._windowSignals.set(window, ids);
    this._tryPlace(window);
    this._changed();
  }

  // One Changed signal per turn of the main loop, however many things changed in it.
  _changed() {
    this._state = null;
    if (this._changePending || !this._dbus)
      return;
    this._changePending = GLib.idle_add(GLib.PRIORITY_DEFAULT_IDLE, () => {
      this._changePending = 0;
      if (this._dbus)
        this._dbus.emit_signal('Changed', null);
      return GLib.SOURCE_REMOVE;
    });
  }

  // ---- monitors ----

  // Connector names and the layout mode come from DisplayConfig, asked again whenever the
  // monitors change; until it answers, monitors have no connector name. At the shell's start
  // it may not be there yet: asked again a few times.
  _readMonitors(attempt = 0) {
    Gio.DBus.session.call('org.gnome.Mutter.DisplayConfig', '/org/gnome/Mutter/DisplayConfig',
      'org.gnome.Mutter.DisplayConfig', 'GetCurrentState', null, null,
      Gio.DBusCallFlags.NONE, 2000, null, (bus, result) => {
        let reply;
        try {
          reply = bus.call_finish(result).deep_unpack();
        } catch (e) {
          if (this._globalSignals && attempt < MONITOR_ATTEMPTS && !this._monitorRetry) {
            this._monitorRetry = GLib.timeout_add(GLib.PRIORITY_DEFAULT, 500, () => {
              this._monitorRetry = 0;
              this._readMonitors(attempt + 1);
              return GLib.SOURCE_REMOVE;
            });
          }
          return;
        }
        if (!this._globalSignals)
          return;
        const [, monitors, , properties] = reply;
        const manager = Meta.MonitorManager.get();
        const connectors = [];
        for (const monitor of monitors) {
          const connector = monitor[0][0];
          const index = manager.get_monitor_for_connector(connector);
          if (index >= 0)
            connectors[index] = connector;
        }
        this._connectors = connectors;
        const mode = properties['layout-mode'];
        this._logical = mode !== undefined && mode.deep_unpack() === 1;
        this._changed();
      });
    this._changed();
  }

  // ---- overlays ----

  _callerPid(sender) {
    try {
      const reply = Gio.DBus.session.call_sync('org.freedesktop.DBus', '/org/freedesktop/DBus',
        'org.freedesktop.DBus', 'GetConnectionUnixProcessID', new GLib.Variant('(s)', [sender]),
        null, Gio.DBusCallFlags.NONE, 1000, null);
      return reply.deep_unpack()[0];
    } catch (e) {
      return null;
    }
  }

  // A window of the process that asked, with the title it asked for, goes over its monitor,
  // above everything, on every workspace.
  _tryPlace(window) {
    if (!window || !this._placements || window.get_pid() <= 0)
      return;
    const now = GLib.get_monotonic_time() / 1000;
    const i = this._placements.findIndex(p =>
      p.until > now && p.pid === window.get_pid() && p.title === window.get_title());
    if (i < 0)
      return;
    const [placement] = this._placements.splice(i, 1);
    const index = Meta.MonitorManager.get().get_monitor_for_connector(placement.connector);
    if (index < 0)
      return;
    const area = global.display.get_monitor_geometry(index);
    this._placed.set(window, placement);
    window.make_above();
    window.stick();
    // As a user would move it: the shell then leaves the top bar's strip to it as well.
    window.move_resize_frame(true, area.x, area.y, area.width, area.height);
    // Above the top bar and every other piece of the shell's chrome too, as menus are.
    const actor = window.get_compositor_private();
    if (actor && actor.get_parent() !== global.top_window_group) {
      actor.get_parent().remove_child(actor);
      global.top_window_group.add_child(actor);
    }
    window.raise();
    Main.activateWindow(window);
    this._changed();
  }
}

function init() {
  return new DesktopTools();
}
