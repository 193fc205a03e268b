// The page around the program, put in front of its JavaScript: the canvas
// painted at the browser's frame pace, pointer input, the menu and the About
// dialog as page elements, dropped and opened files, and the site's storage
// that keeps the working folder between visits.
var talvoPage = (function () {
  "use strict";
  const Folder = "/talvo";
  const StoreFile = "talvo:file:", StoreCurrent = "talvo:current";
  const SideFiles = ["init.txt", "bg.raw", "bg.pal"];
  const Width = 336, Height = 402;
  const WmClose = 0x10, WmCommand = 0x111, WmSysCommand = 0x112, WmMouseMove = 0x200;
  const Buttons = [[1, 0x201, 0x202], [2, 0x204, 0x205]]; // bit, down, up
  const byId = id => document.getElementById(id);
  const app = byId("app"), field = byId("field"), picture = field.getContext("2d");
  const menuButton = byId("menu-button"), fileInput = byId("open-file"), about = byId("about");
  let running = false, dropsAccepted = false, aboutOpen = false, focusBeforeAbout = null;

  function showError(text) {
    byId("message").textContent = text;
    console.error(text);
  }

  function status(text) {
    byId("status").textContent = text;
  }

  // Waiting: the program sleeps until the page posts input or time is up.
  let wakeUp = null;
  function wait(ms) {
    return new Promise(resolve => {
      let timer = 0;
      wakeUp = () => {
        wakeUp = null;
        clearTimeout(timer);
        resolve();
      };
      if (ms >= 0) timer = setTimeout(wakeUp, ms);
    });
  }

  function wake() {
    if (wakeUp) wakeUp();
  }

  // A message-channel turn comes back without the clamping of timers.
  const channel = new MessageChannel();
  let resume = null;
  channel.port1.onmessage = () => {
    const next = resume;
    resume = null;
    if (next) next();
  };
  function yieldToBrowser() {
    return new Promise(resolve => {
      resume = resolve;
      channel.port2.postMessage(0);
    });
  }

  function post(message, wParam, lParam) {
    if (!running) return;
    _WebPost(message, wParam, lParam);
    wake();
  }

  // A presented picture is painted at the browser's next frame; while
  // nothing is presented (at Stop) no frames are asked for.
  let paintAsked = false;
  function paintSoon() {
    if (paintAsked) return;
    paintAsked = true;
    requestAnimationFrame(paint);
  }

  function paint() {
    paintAsked = false;
    const at = _WebFramePixels();
    if (at) picture.putImageData(new ImageData(new Uint8ClampedArray(HEAPU8.buffer, at, Width * Height * 4), Width, Height), 0, 0);
  }

  // Whole multiples only, so every cell stays a square of whole pixels.
  function fit() {
    const room = Math.min((window.innerWidth - 280) / Width, (window.innerHeight - 40) / Height);
    const scale = Math.max(1, Math.floor(room));
    field.style.width = Width * scale + "px";
    field.style.height = Height * scale + "px";
  }

  // Pointer input. Positions are client coordinates of the field, beyond its
  // edges (negative too) while the pointer is captured.
  let pointer = null, buttons = 0, captured = null, ignored = null;

  function lParamAt(event) {
    const box = field.getBoundingClientRect();
    const x = Math.floor((event.clientX - box.left) * Width / box.width);
    const y = Math.floor((event.clientY - box.top) * Height / box.height);
    return (x & 0xFFFF) | ((y & 0xFFFF) << 16);
  }

  function pointerInput(event) {
    const ends = event.type === "pointerup" || event.type === "pointercancel";
    if (event.type === "pointerdown") {
      event.preventDefault();
      ignored = null;
      // A press that closes the menu does only that, as on the desktop.
      if (!menus[0].hidden) {
        closeMenu(false);
        ignored = event.pointerId;
        return;
      }
      // A press starts with no button held, whatever went up unseen.
      if (pointer === null || pointer === event.pointerId) buttons = 0;
    } else if (event.pointerId === ignored) {
      if (ends) ignored = null;
      return;
    }
    if (pointer !== null && event.pointerId !== pointer) return;
    if (event.type === "pointermove") {
      const moves = event.getCoalescedEvents ? event.getCoalescedEvents() : [];
      for (const move of moves.length ? moves : [event]) post(WmMouseMove, buttons, lParamAt(move));
    }
    const held = ends ? 0 : event.buttons & 3;
    const at = lParamAt(event);
    for (const button of Buttons) {
      const bit = button[0];
      if ((held & bit) && !(buttons & bit)) {
        buttons |= bit;
        post(button[1], buttons, at);
      } else if (!(held & bit) && (buttons & bit)) {
        buttons &= ~bit;
        post(button[2], buttons, at);
      }
    }
    pointer = buttons ? event.pointerId : null;
  }

  function capture(on) {
    if (on && pointer !== null) {
      try {
        field.setPointerCapture(pointer);
        captured = pointer;
      } catch (error) {
        // The pointer went up before the program asked: nothing to capture.
      }
    } else if (!on && captured !== null) {
      if (field.hasPointerCapture(captured)) field.releasePointerCapture(captured);
      captured = null;
    }
  }

  // The menu: the program's items are appended after the page's own, into
  // lists built as the program makes its menus.
  const menus = [byId("menu-0")];
  const items = [[]];

  function menuOf(index) {
    if (!menus[index]) {
      const list = document.createElement("ul");
      list.setAttribute("role", "menu");
      list.hidden = true;
      menus[index] = list;
      items[index] = [];
    }
    return menus[index];
  }

  function menuAppend(menu, kind, id, popup, text) {
    const entry = document.createElement("li");
    if (kind === 2) {
      entry.setAttribute("role", "separator");
    } else if (kind === 1) {
      entry.setAttribute("role", "none");
      const opener = document.createElement("div");
      opener.setAttribute("role", "menuitem");
      opener.setAttribute("aria-haspopup", "menu");
      opener.setAttribute("aria-expanded", "false");
      opener.tabIndex = -1;
      opener.textContent = text;
      const list = menuOf(popup);
      list.setAttribute("aria-label", text);
      entry.append(opener, list);
    } else {
      // The items of a popup are one of the program's radio groups; an item
      // of the top list becomes a check box once the program marks it.
      entry.setAttribute("role", menu === 0 ? "menuitem" : "menuitemradio");
      if (menu !== 0) entry.setAttribute("aria-checked", "false");
      entry.tabIndex = -1;
      entry.dataset.command = id;
      entry.textContent = text;
    }
    menuOf(menu).append(entry);
    items[menu].push(entry);
  }

  function menuCheck(menu, position, checked) {
    const entry = items[menu] && items[menu][position];
    if (!entry) return;
    if (entry.getAttribute("role") === "menuitem") entry.setAttribute("role", "menuitemcheckbox");
    entry.setAttribute("aria-checked", checked ? "true" : "false");
  }

  const choices = list => Array.from(list.children)
    .map(entry => (entry.getAttribute("role") === "none" ? entry.firstElementChild : entry))
    .filter(entry => entry.getAttribute("role") !== "separator");
  const submenuOf = item => (item.getAttribute("aria-haspopup") ? item.nextElementSibling : null);

  function openMenu(last) {
    menuButton.setAttribute("aria-expanded", "true");
    menus[0].hidden = false;
    const all = choices(menus[0]);
    all[last ? all.length - 1 : 0].focus();
  }

  function closeSubmenus(list) {
    for (const item of choices(list)) {
      const sub = submenuOf(item);
      if (sub && !sub.hidden) {
        closeSubmenus(sub);
        sub.hidden = true;
        item.setAttribute("aria-expanded", "false");
      }
    }
  }

  function closeMenu(refocus) {
    closeSubmenus(menus[0]);
    menus[0].hidden = true;
    menuButton.setAttribute("aria-expanded", "false");
    if (refocus) menuButton.focus();
  }

  function openSubmenu(item, focusFirst) {
    closeSubmenus(item.closest("[role=menu]"));
    const sub = submenuOf(item);
    sub.hidden = false;
    item.setAttribute("aria-expanded", "true");
    if (focusFirst) choices(sub)[0].focus();
  }

  function activate(item, byKey) {
    if (submenuOf(item)) {
      openSubmenu(item, byKey);
      return;
    }
    closeMenu(true);
    if (item.dataset.action === "open") fileInput.click();
    else if (item.dataset.action === "download") download();
    else if (item.dataset.command !== undefined) post(WmSysCommand, Number(item.dataset.command), 0);
  }

  function menuKey(event) {
    const item = event.target.closest("[role^=menuitem]");
    if (!item) return;
    const list = item.closest("[role=menu]");
    const all = choices(list), at = all.indexOf(item);
    const opener = list === menus[0] ? null : list.previousElementSibling;
    switch (event.key) {
    case "ArrowDown": all[(at + 1) % all.length].focus(); break;
    case "ArrowUp": all[(at + all.length - 1) % all.length].focus(); break;
    case "Home": all[0].focus(); break;
    case "End": all[all.length - 1].focus(); break;
    case "ArrowRight": if (submenuOf(item)) openSubmenu(item, true); break;
    case "ArrowLeft":
    case "Escape":
      if (opener) {
        closeSubmenus(opener.closest("[role=menu]"));
        opener.focus();
      } else if (event.key === "Escape") {
        closeMenu(true);
      }
      break;
    case "Enter":
    case " ": activate(item, true); break;
    case "Tab": closeMenu(false); return;
    default: return;
    }
    event.preventDefault();
  }

  menuButton.addEventListener("click", () => (menus[0].hidden ? openMenu(false) : closeMenu(true)));
  menuButton.addEventListener("keydown", event => {
    if (event.key !== "ArrowDown" && event.key !== "ArrowUp") return;
    event.preventDefault();
    openMenu(event.key === "ArrowUp");
  });
  menus[0].addEventListener("keydown", menuKey);
  menus[0].addEventListener("click", event => {
    const item = event.target.closest("[role^=menuitem]");
    if (item) activate(item, false);
  });
  menus[0].addEventListener("pointerover", event => {
    const item = event.target.closest("[role^=menuitem]");
    if (!item) return;
    item.focus();
    if (submenuOf(item)) openSubmenu(item, false);
    else closeSubmenus(item.closest("[role=menu]"));
  });
  document.addEventListener("pointerdown", event => {
    if (!menus[0].hidden && !event.target.closest("#side")) closeMenu(false);
  });

  // The About dialog: modal, the rest of the page inert while it is open.
  function aboutShow(texts) {
    ["about-caption", "about-product", "about-credit", "about-contact1", "about-contact2"]
      .forEach((id, i) => { byId(id).textContent = texts[i]; });
    closeMenu(false);
    focusBeforeAbout = document.activeElement;
    const box = field.getBoundingClientRect();
    about.style.left = box.left + 8 + "px";
    about.style.top = box.top + 74 + "px";
    app.inert = true;
    about.hidden = false;
    aboutOpen = true;
    byId("about-ok").focus();
  }

  function aboutHide() {
    about.hidden = true;
    app.inert = false;
    aboutOpen = false;
    if (focusBeforeAbout && focusBeforeAbout.focus) focusBeforeAbout.focus();
  }

  function dialogInput(message, wParam) {
    _WebDialogInput(message, wParam);
    wake();
  }

  byId("about-ok").addEventListener("click", () => dialogInput(WmCommand, 1));
  byId("about-close").addEventListener("click", () => dialogInput(WmClose, 0));
  about.addEventListener("keydown", event => {
    if (event.key === "Enter") dialogInput(WmCommand, 1);
    else if (event.key === "Escape") dialogInput(WmCommand, 2);
    else return;
    event.preventDefault();
  });

  // Files. The working folder lives in the site's storage: each file under
  // its own key, written back whenever the program has saved. Where the
  // browser keeps nothing for the site, it lasts as long as the page.
  const storage = (() => {
    try {
      return window.localStorage;
    } catch (error) {
      const kept = new Map();
      status("This browser keeps nothing for this page: the scene will not come back after you leave.");
      return {
        get length() { return kept.size; },
        key: i => Array.from(kept.keys())[i],
        getItem: key => (kept.has(key) ? kept.get(key) : null),
        setItem: (key, value) => kept.set(key, String(value)),
        removeItem: key => kept.delete(key),
      };
    }
  })();
  const inFolder = name => Folder + "/" + name;
  const sceneName = () => UTF8ToString(_WebSceneName());

  function makeFolders(path) {
    const folder = path.substring(0, path.lastIndexOf("/"));
    if (folder) FS.mkdirTree(folder);
  }

  function toBase64(bytes) {
    let text = "";
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(text);
  }

  function fromBase64(text) {
    const raw = atob(text);
    const bytes = new Uint8Array(raw.length);
    for (let i = 0; i < raw.length; ++i) bytes[i] = raw.charCodeAt(i);
    return bytes;
  }

  function storedNames() {
    const names = [];
    for (let i = 0; i < storage.length; ++i) {
      const key = storage.key(i);
      if (key.startsWith(StoreFile)) names.push(key.slice(StoreFile.length));
    }
    return names;
  }

  function remember(key, value, what) {
    try {
      storage.setItem(key, value);
    } catch (error) {
      showError("This browser would not keep " + what + ": " + error.message);
    }
  }

  const store = (name, bytes) => remember(StoreFile + name, toBase64(bytes), name);

  function restore() {
    FS.mkdir(Folder);
    for (const name of storedNames()) {
      try {
        makeFolders(inFolder(name));
        FS.writeFile(inFolder(name), fromBase64(storage.getItem(StoreFile + name)));
      } catch (error) {
        showError("A file kept in this browser could not be read back: " + name);
      }
    }
    FS.chdir(Folder);
  }

  function folderFiles(path, prefix, found) {
    for (const name of FS.readdir(path)) {
      if (name === "." || name === "..") continue;
      const mode = FS.stat(path + "/" + name).mode;
      if (FS.isDir(mode)) folderFiles(path + "/" + name, prefix + name + "/", found);
      else if (FS.isFile(mode)) found.push(prefix + name);
    }
    return found;
  }

  // The whole folder but the copies of dropped scenes no longer shown: they
  // cannot be reached again.
  function keep() {
    const current = sceneName().startsWith("/") ? null : sceneName();
    const wanted = folderFiles(Folder, "", []).filter(name => !name.startsWith("dropped/") || name === current);
    for (const name of storedNames()) if (!wanted.includes(name)) storage.removeItem(StoreFile + name);
    for (const name of wanted) store(name, FS.readFile(inFolder(name)));
    if (current) remember(StoreCurrent, current, "the scene's name");
  }

  // The program's own save, as when its window closes, but it goes on;
  // whatever it wrote is kept, a rescued scene too. False when the scene is
  // not in its file, and the program has said why.
  function saveScene() {
    const saved = running ? _WebSaveScene() : 0;
    if (saved) keep();
    return saved === 1;
  }

  function download() {
    const name = sceneName();
    if (!saveScene()) return;
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([FS.readFile(name)], { type: "application/octet-stream" }));
    link.download = name.substring(name.lastIndexOf("/") + 1);
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  // A dropped scene is copied into the folder "dropped", never over the
  // scene being played: that one is saved before the drop is read.
  function place(name, bytes) {
    const clean = name.replace(/[\/\\\0]/g, "_");
    let path = "dropped/" + clean;
    if (path === sceneName()) path = "dropped/2/" + clean;
    makeFolders(inFolder(path));
    FS.writeFile(inFolder(path), bytes);
    return path;
  }

  async function receive(files) {
    const list = Array.from(files || []);
    if (!running || !dropsAccepted || aboutOpen || !list.length) return;
    let contents;
    try {
      contents = await Promise.all(list.map(file => file.arrayBuffer()));
    } catch (error) {
      showError("The dropped file could not be read: " + error.message);
      return;
    }
    if (!running || aboutOpen) return;
    const scenes = [];
    list.forEach((file, i) => {
      const bytes = new Uint8Array(contents[i]);
      const side = SideFiles.find(name => name === file.name.toLowerCase());
      if (side) {
        FS.writeFile(inFolder(side), bytes);
        store(side, bytes);
        status(side + " is kept: it shapes every new scene from now on (Clear makes one).");
      } else {
        scenes.push(place(file.name, bytes));
      }
    });
    if (!scenes.length) return;
    const text = scenes.join("\n"), size = lengthBytesUTF8(text) + 1;
    const at = _malloc(size);
    stringToUTF8(text, at, size);
    _WebDrop(at);
    _free(at);
    wake();
  }

  document.addEventListener("dragover", event => {
    event.preventDefault();
    event.dataTransfer.dropEffect = running && dropsAccepted && !aboutOpen ? "copy" : "none";
  });
  document.addEventListener("drop", event => {
    event.preventDefault();
    receive(event.dataTransfer.files);
  });
  fileInput.addEventListener("change", () => {
    receive(fileInput.files);
    fileInput.value = "";
  });

  document.addEventListener("visibilitychange", () => {
    if (document.visibilityState === "hidden") saveScene();
  });
  window.addEventListener("pagehide", saveScene);

  for (const type of ["pointerdown", "pointermove", "pointerup", "pointercancel"]) field.addEventListener(type, pointerInput);
  field.addEventListener("contextmenu", event => event.preventDefault());
  window.addEventListener("resize", fit);
  fit();

  // The program's arguments: those named in the address (?arg=NAME), else
  // the scene shown when the page was last left.
  const named = new URLSearchParams(location.search).getAll("arg");
  const last = storage.getItem(StoreCurrent);
  Module.arguments = named.length ? named : last && storage.getItem(StoreFile + last) !== null ? [last] : [];
  // A scene that cannot be saved is rescued into the folder, so it is kept.
  Module.preRun = [restore, () => { ENV.XDG_DATA_HOME = Folder + "/rescued"; }];
  Module.printErr = text => console.warn(text);
  Module.onAbort = what => showError("Talvo stopped: " + what);

  return {
    wait,
    yieldToBrowser,
    setTitle: title => { document.title = title; },
    shown: () => { running = true; },
    paintSoon,
    acceptDrops: () => { dropsAccepted = true; },
    menuAppend,
    menuCheck,
    capture,
    aboutShow,
    aboutHide,
    showError,
    ended: code => {
      running = false;
      status("Talvo has ended" + (code ? " (code " + code + ")" : "") + ". Reload the page to play again.");
    },
  };
})();
