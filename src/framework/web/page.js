// The page around the program, put in front of its JavaScript: the canvas
// painted at the browser's frame pace, pointer input, the menu and the About
// dialog as page elements, dropped and opened files, the site's storage that
// keeps the working folder between visits, one tab at a time, and the
// service worker that lets the page start offline.
var talvoPage = (function () {
  "use strict";
  const Folder = "/talvo";
  const SideFiles = ["init.txt", "bg.raw", "bg.pal"];
  const Width = 336, Height = 402;
  const WmClose = 0x10, WmCommand = 0x111, WmSysCommand = 0x112, WmMouseMove = 0x200, ScClose = 0xF060;
  const WmChar = 0x102;
  const Buttons = [[1, 0x201, 0x202], [2, 0x204, 0x205]]; // bit, down, up
  const byId = id => document.getElementById(id);
  const app = byId("app"), field = byId("field"), picture = field.getContext("2d");
  const menuButton = byId("menu-button"), fileInput = byId("open-file"), about = byId("about");
  let running = false, dropsAccepted = false, aboutOpen = false, focusBeforeAbout = null;

  // The page's texts in the first of the browser's languages that has a
  // catalogue (TalvoCatalogues, made from po/*.po); English, the page's own
  // texts, where English comes first or none has one. The program asks
  // for the same catalogue.
  const catalogue = (() => {
    const languages = navigator.languages && navigator.languages.length ? navigator.languages : [navigator.language || ""];
    for (const language of languages) {
      const [first, ...rest] = language.toLowerCase().split(".")[0].split(/[-_]/);
      if (first === "en") return "";
      if (first === "zh") {
        const named = rest.find(part => ["hans", "cn", "sg", "hant", "tw", "hk", "mo"].includes(part));
        if (["hant", "tw", "hk", "mo"].includes(named)) continue;
        if ("zh_CN" in TalvoCatalogues) return "zh_CN";
      } else if (first in TalvoCatalogues) {
        return first;
      }
    }
    return "";
  })();
  const texts = TalvoCatalogues[catalogue] || {};
  // The text in that language, each %s (or %N$s) filled in with the words.
  function T(english, ...words) {
    let next = 0;
    return (texts[english] || english).replace(/%%|%(?:(\d+)\$)?s/g,
      (found, number) => (found === "%%" ? "%" : String(words[number ? number - 1 : next++])));
  }
  // The page's own elements: the content of each marked data-text, and
  // every title and label.
  function translatePage() {
    if (!catalogue) return;
    document.documentElement.lang = catalogue.replace("_", "-");
    for (const element of document.querySelectorAll("[data-text]")) {
      const english = element.innerHTML.split(/\s+/).join(" ").trim();
      if (texts[english]) element.innerHTML = texts[english];
    }
    for (const name of ["title", "aria-label", "alt"])
      for (const element of document.querySelectorAll("[" + name + "]"))
        if (texts[element.getAttribute(name)]) element.setAttribute(name, texts[element.getAttribute(name)]);
  }
  translatePage();

  function showError(text) {
    byId("message").textContent = text;
    console.error(text);
  }

  // A note from the program stops nothing: it stays until the player
  // closes it.
  function showNote(text) {
    byId("note-text").textContent = text;
    byId("note").hidden = false;
  }

  // The status line tells what just happened, until the next thing does.
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

  // Input goes to the program at once, also while it waits for a paint.
  function wake() {
    if (wakeUp) wakeUp();
    if (afterPaint) {
      turn(afterPaint);
      afterPaint = null;
    }
  }

  // A message-channel turn comes back without the clamping of timers, but
  // some browsers (Firefox, WebKit) run such messages ahead of painting for
  // as long as they keep coming. So once a picture has waited about a frame
  // for its paint, the program waits for that paint, and goes on in the
  // turn after it.
  const channel = new MessageChannel();
  const PaintOverdueMs = 12, PaintWaitMs = 100;
  let resume = null, afterPaint = null;
  channel.port1.onmessage = () => {
    const next = resume;
    resume = null;
    if (next) next();
  };
  function turn(next) {
    resume = next;
    channel.port2.postMessage(0);
  }
  function yieldToBrowser() {
    return new Promise(resolve => {
      if (paintAsked && performance.now() - paintAskedAt > PaintOverdueMs && document.visibilityState === "visible") {
        afterPaint = resolve;
        // A browser that holds animation frames back (a hidden frame)
        // does not hold the program up for long.
        setTimeout(() => {
          if (afterPaint === resolve) paint();
        }, PaintWaitMs);
      } else {
        turn(resolve);
      }
    });
  }

  function post(message, wParam, lParam) {
    if (!running) return;
    _WebPost(message, wParam, lParam);
    wake();
  }

  // A presented picture is painted at the browser's next frame; while
  // nothing is presented (at Stop) no frames are asked for.
  let paintAsked = false, paintAskedAt = 0;
  function paintSoon() {
    if (paintAsked) return;
    paintAsked = true;
    paintAskedAt = performance.now();
    requestAnimationFrame(paint);
  }

  function paint() {
    paintAsked = false;
    const at = running ? _WebFramePixels() : 0;
    if (at) picture.putImageData(new ImageData(new Uint8ClampedArray(HEAPU8.buffer, at, Width * Height * 4), Width, Height), 0, 0);
    if (afterPaint) {
      turn(afterPaint);
      afterPaint = null;
    }
  }

  // Every cell a square of whole device pixels, as many as fit: beside the
  // side panel where there is room for it, else alone across the window
  // (the panel then goes below). Only where not even one device pixel a
  // cell fits is the field shrunk, and smoothed. A size the player chose
  // (1x to 4x: that many times the device's own scale rounded to a whole
  // step) holds whatever the window's size; the page scrolls.
  let zoomChoice = 0;
  function fit() {
    const ratio = window.devicePixelRatio || 1;
    const body = getComputedStyle(document.body);
    const wide = document.documentElement.clientWidth - parseFloat(body.paddingLeft) - parseFloat(body.paddingRight);
    const high = window.innerHeight - parseFloat(body.paddingTop) - parseFloat(body.paddingBottom);
    const side = byId("side").offsetWidth + parseFloat(getComputedStyle(app).columnGap || "0");
    const steps = room => Math.floor(Math.min(room * ratio / Width, high * ratio / Height));
    let step = steps(wide - side);
    if (step < Math.ceil(ratio)) step = Math.max(step, steps(wide));
    if (zoomChoice > 0) step = Math.max(1, Math.floor(ratio + 0.5)) * zoomChoice;
    const css = step >= 1 ? step / ratio : wide / Width;
    field.classList.toggle("smooth", step < 1);
    field.style.width = Width * css + "px";
    field.style.height = Height * css + "px";
  }

  // The zoom buttons post the framework's zoom command; the program says
  // which choice holds (the one remembered, at the start).
  const IdZoom = 0x5A00, IdKeys = 0x4B00;
  function setZoom(choice) {
    zoomChoice = choice;
    for (const button of document.querySelectorAll("[data-zoom]"))
      button.setAttribute("aria-pressed", Number(button.dataset.zoom) === choice ? "true" : "false");
    fit();
  }
  for (const button of document.querySelectorAll("[data-zoom]"))
    button.addEventListener("click", () => post(WmCommand, IdZoom + Number(button.dataset.zoom), 0));

  // Pointer input. Positions are client coordinates of the field, beyond its
  // edges (negative too) while the pointer is captured.
  let pointer = null, buttons = 0, captured = null, ignored = null;
  // The Eraser switch: while it is on, a stroke of the first button (a
  // finger's) erases as the right button's does, and goes to the program
  // as right-button input, so its journal keeps it as such.
  const eraser = byId("eraser");
  let erasing = false;
  eraser.addEventListener("click", () =>
    eraser.setAttribute("aria-pressed", eraser.getAttribute("aria-pressed") === "true" ? "false" : "true"));

  function pointAt(event) {
    const box = field.getBoundingClientRect();
    return [Math.floor((event.clientX - box.left) * Width / box.width),
            Math.floor((event.clientY - box.top) * Height / box.height)];
  }

  // Shift and Ctrl go with a mouse message, as in Win32's.
  let mouseKeys = 0;
  function postMouse(message, held, point) {
    if (!running) return;
    _WebPostMouse(message, held | mouseKeys, point[0], point[1]);
    wake();
  }

  function pointerInput(event) {
    mouseKeys = (event.shiftKey ? 4 : 0) | (event.ctrlKey ? 8 : 0);
    const ends = event.type === "pointerup" || event.type === "pointercancel";
    if (event.type === "pointerdown") {
      event.preventDefault();
      field.focus({ preventScroll: true });
      ignored = null;
      // A press that closes the menu does only that, as on the desktop.
      if (!menus[0].hidden) {
        closeMenu(false);
        ignored = event.pointerId;
        return;
      }
      // A press starts with no button held, whatever went up unseen.
      if (pointer === null || pointer === event.pointerId) {
        buttons = 0;
        erasing = eraser.getAttribute("aria-pressed") === "true";
      }
    } else if (event.pointerId === ignored) {
      if (ends) ignored = null;
      return;
    }
    if (pointer !== null && event.pointerId !== pointer) return;
    if (event.type === "pointermove") {
      const moves = event.getCoalescedEvents ? event.getCoalescedEvents() : [];
      for (const move of moves.length ? moves : [event]) postMouse(WmMouseMove, buttons, pointAt(move));
    }
    let held = ends ? 0 : event.buttons & 3;
    if (erasing && held & 1) held = (held & ~1) | 2;
    const at = pointAt(event);
    let released = false;
    for (const button of Buttons) {
      const bit = button[0];
      if ((held & bit) && !(buttons & bit)) {
        buttons |= bit;
        postMouse(button[1], buttons, at);
      } else if (!(held & bit) && (buttons & bit)) {
        buttons &= ~bit;
        postMouse(button[2], buttons, at);
        released = true;
      }
    }
    pointer = buttons ? event.pointerId : null;
    // A finished stroke is something worth keeping.
    if (released && !buttons) worthKeeping();
  }

  // Where the pointer was last seen anywhere on the page, for the program's
  // polls: the page hears nothing of it once it leaves the page.
  let lastPointer = [0, 0, 0];
  for (const type of ["pointerdown", "pointermove", "pointerup"]) {
    document.addEventListener(type, event => {
      const at = pointAt(event);
      lastPointer = [at[0], at[1], event.buttons & 3];
    }, true);
  }

  // Keys reach the program as Win32 delivers them: the key, then the
  // character it makes (Ctrl with a letter makes a control character).
  const VirtualKeys = { ArrowLeft: 0x25, ArrowUp: 0x26, ArrowRight: 0x27, ArrowDown: 0x28, Delete: 0x2E,
    Enter: 0x0D, Escape: 0x1B, " ": 0x20, Tab: 0x09, Backspace: 0x08, Shift: 0x10, Control: 0x11 };
  function keyInput(event) {
    if (!running || aboutOpen || event.altKey || event.metaKey || event.isComposing) return;
    const key = event.key;
    let vk = VirtualKeys[key] || 0, ch = -1;
    if (/^F([1-9]|1[0-2])$/.test(key)) vk = 0x6F + Number(key.slice(1));
    if (key.length === 1) {
      let upper = key.toUpperCase();
      // A letter of a layout beyond Latin means the Latin letter of its key
      // (by the key's place, as on a US keyboard), as Win32's virtual keys.
      const place = /^Key([A-Z])$/.exec(event.code || "");
      if (!/^[A-Z0-9]$/.test(upper) && key.charCodeAt(0) > 0x7F && place) upper = place[1];
      if (/^[A-Z0-9]$/.test(upper)) vk = upper.charCodeAt(0);
      const code = key.charCodeAt(0);
      if (event.ctrlKey) {
        ch = /^[A-Z]$/.test(upper) ? upper.charCodeAt(0) - 64 : -1;
        // Ctrl+Shift+Z redoes, as Ctrl+Y does.
        if (event.shiftKey && upper === "Z") ch = 25;
      } else if (code >= 0x20 && code <= 0xFF) {
        ch = code;
      }
    } else if (key === "Enter") {
      ch = event.ctrlKey ? 10 : 13;
    } else if (key === "Escape") {
      ch = 27;
    } else if (key === "Backspace") {
      ch = event.ctrlKey ? 127 : 8;
    } else if (key === "Tab") {
      return; // moves the focus, as on any page
    }
    if (!vk && ch < 0) return;
    // The browser's own keys (find, print, reload...) stay the browser's.
    if (event.ctrlKey && ch < 0) return;
    event.preventDefault();
    _WebPostKey(vk, ch, (event.shiftKey ? 4 : 0) | (event.ctrlKey ? 8 : 0));
    wake();
  }

  // Talvo's own keys (undo, redo, copy, picture, animation) work wherever
  // the focus is, as a window's shortcuts do, and the field takes every
  // key: not in a text field, nor while the page asks a question, and
  // Ctrl+C copies a selected text as it always does.
  function commandKey(event) {
    if (event.target === field || !running || !question.hidden || event.altKey || event.metaKey) return;
    if (event.target.closest && event.target.closest("input, textarea, select, [contenteditable]")) return;
    const key = event.key.toLowerCase();
    const command = event.ctrlKey ? key === "z" || (key === "y" && !event.shiftKey) || (key === "c" && !event.shiftKey)
      : !event.shiftKey && (key === "p" || key === "g" || key === "f1");
    if (!command || (key === "c" && String(window.getSelection()))) return;
    keyInput(event);
  }

  // The picture goes to the clipboard as a PNG. A browser may refuse it
  // (no permission, no focus): the page then says so.
  let copied = null;
  function copyPicture(rgba, width, height) {
    const canvas = document.createElement("canvas");
    canvas.width = width;
    canvas.height = height;
    canvas.getContext("2d").putImageData(new ImageData(new Uint8ClampedArray(rgba.buffer), width, height), 0, 0);
    const png = new Promise(resolve => canvas.toBlob(resolve, "image/png"));
    copied = png;
    const refused = error => status(T("The browser would not take the picture: %s", error && error.message || error));
    try {
      navigator.clipboard.write([new ClipboardItem({ "image/png": png })])
        .then(() => status(T("The picture of the field is on the clipboard.")), refused);
    } catch (error) {
      refused(error);
    }
  }

  // Text in the browser's serif (a Mincho face where there is one), as a
  // coverage mask: the height is the characters' own when negative, the
  // cell's when positive.
  let textCanvas = null;
  function textMask(height, text) {
    textCanvas = textCanvas || document.createElement("canvas");
    const context = textCanvas.getContext("2d", { willReadFrequently: true });
    const face = px => "100 " + px + 'px "MS Mincho", "IPAMincho", "Noto Serif CJK JP", serif';
    let size = Math.abs(height);
    context.font = face(size);
    let metrics = context.measureText(text || "M");
    const cell = m => (m.fontBoundingBoxAscent || size * 0.88) + (m.fontBoundingBoxDescent || size * 0.12);
    if (height > 0) {
      size = size * size / cell(metrics);
      context.font = face(size);
    }
    metrics = context.measureText(text);
    const width = Math.ceil(metrics.width), rows = Math.ceil(cell(metrics));
    if (width <= 0 || rows <= 0 || width > 4 * Width || rows > 4 * Height) return 0;
    textCanvas.width = width;
    textCanvas.height = rows;
    context.font = face(size);
    context.textBaseline = "alphabetic";
    context.fillStyle = "#000";
    context.fillText(text, 0, metrics.fontBoundingBoxAscent || size * 0.88);
    const alpha = context.getImageData(0, 0, width, rows).data;
    const at = _malloc(8 + width * rows);
    HEAP32[at >> 2] = width;
    HEAP32[(at >> 2) + 1] = rows;
    for (let i = 0; i < width * rows; ++i) HEAPU8[at + 8 + i] = alpha[4 * i + 3];
    return at;
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
    .filter(entry => !entry.hidden)
    .map(entry => (entry.getAttribute("role") === "none" ? entry.firstElementChild : entry))
    .filter(entry => entry.getAttribute("role") !== "separator");
  const submenuOf = item => (item.getAttribute("aria-haspopup") ? item.nextElementSibling : null);

  // An open list stays inside the window: where a popup would go past its
  // right edge, popups open inside the menu instead (always under a
  // finger); a popup that would go past the bottom opens higher, up to the
  // window's top; and a list taller than the room below its top scrolls.
  function placeList(list) {
    const room = document.documentElement.clientWidth;
    if (list !== menus[0] && !menus[0].classList.contains("stacked") && list.getBoundingClientRect().right > room) {
      menus[0].classList.add("stacked");
    }
    const stacked = menus[0].classList.contains("stacked");
    for (const open of stacked ? [menus[0]] : [list]) {
      open.style.maxHeight = "";
      open.style.marginTop = "";
      const box = open.getBoundingClientRect();
      const over = box.bottom - (window.innerHeight - 8);
      if (open !== menus[0] && over > 0) open.style.marginTop = -Math.max(0, Math.min(over, box.top - 8)) + "px";
      const top = open.getBoundingClientRect().top;
      open.style.maxHeight = Math.max(80, window.innerHeight - top - 8) + "px";
      if (open !== menus[0]) open.style.overflowY = "auto";
    }
  }

  function openMenu(last) {
    menuButton.setAttribute("aria-expanded", "true");
    const finger = matchMedia("(pointer: coarse)").matches;
    menus[0].classList.toggle("stacked", finger);
    menus[0].style.maxHeight = "";
    const pageHeight = document.documentElement.scrollHeight;
    menus[0].hidden = false;
    // Under a finger, a menu taller than the room below its button has the
    // page scroll it up first, as far as the page goes without the menu.
    const short = menus[0].getBoundingClientRect().bottom - (window.innerHeight - 8);
    if (finger && short > 0) window.scrollBy(0, Math.max(0, Math.min(short, pageHeight - window.innerHeight - window.scrollY)));
    placeList(menus[0]);
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

  // `chosen`: by a click, a tap or a key, not by hovering, so the menu may
  // move under the pointer: a popup opened inside it is scrolled into sight,
  // its item kept.
  function openSubmenu(item, focusFirst, chosen) {
    closeSubmenus(item.closest("[role=menu]"));
    const sub = submenuOf(item);
    if (sub.classList.contains("scenes")) listScenes(sub);
    sub.hidden = false;
    item.setAttribute("aria-expanded", "true");
    placeList(sub);
    if (chosen && menus[0].classList.contains("stacked")) {
      const outer = menus[0].getBoundingClientRect(), inner = sub.getBoundingClientRect();
      const over = inner.bottom - outer.bottom;
      if (over > 0) menus[0].scrollTop += Math.min(over, item.getBoundingClientRect().top - outer.top);
    }
    if (focusFirst) choices(sub)[0].focus();
  }

  function activate(item, byKey) {
    if (submenuOf(item)) {
      openSubmenu(item, byKey, true);
      return;
    }
    if (item.getAttribute("aria-disabled") === "true") return;
    closeMenu(true);
    const action = item.dataset.action;
    if (action === "open") fileInput.click();
    else if (action === "download") download();
    else if (action === "keys") post(WmCommand, IdKeys, 0);
    else if (action === "persist" && item.getAttribute("aria-checked") !== "true") askToKeep(true);
    else if (action === "scene") goBackTo(item.dataset.scene);
    else if (action === "remove") removeScene(item.dataset.scene);
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
    case "ArrowRight": if (submenuOf(item)) openSubmenu(item, true, true); break;
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
    case "Delete":
      if (item.dataset.action !== "scene") return;
      closeMenu(true);
      removeScene(item.dataset.scene);
      break;
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
    // Hovering is a mouse's or a pen's: under a finger nothing opens or
    // closes before the tap's click lands, on the item it was meant for.
    if (event.pointerType === "touch") return;
    const item = event.target.closest("[role^=menuitem]");
    if (!item) return;
    item.focus();
    if (submenuOf(item)) openSubmenu(item, false, false);
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
    if (!running) return;
    _WebDialogInput(message, wParam);
    wake();
  }

  byId("about-ok").addEventListener("click", () => dialogInput(WmCommand, 1));
  byId("about-close").addEventListener("click", () => dialogInput(WmClose, 0));
  // While a dialog is open, Tab goes round its buttons and the focus never
  // leaves it for the page behind.
  function keepFocusIn(dialog, event) {
    const stops = Array.from(dialog.querySelectorAll("button"));
    const at = stops.indexOf(document.activeElement);
    stops[(at + (event.shiftKey ? stops.length - 1 : 1) + stops.length) % stops.length].focus();
    event.preventDefault();
  }
  document.addEventListener("focusin", event => {
    const open = aboutOpen ? about : !question.hidden ? question : null;
    if (open && !open.contains(event.target)) open.querySelector("button").focus();
  });
  about.addEventListener("keydown", event => {
    if (event.key === "Tab") keepFocusIn(about, event);
    else if (event.key === "Enter") dialogInput(WmCommand, 1);
    else if (event.key === "Escape") dialogInput(WmCommand, 2);
    else return;
    event.preventDefault();
  });

  // The list of the keys: a panel beside the field, which plays on; OK,
  // Escape and its close button take it away.
  const keysPanel = byId("keys");
  let focusBeforeKeys = null;
  function keysShow(caption, text) {
    byId("keys-caption").textContent = caption;
    const table = byId("keys-list");
    table.replaceChildren();
    for (const line of text.split("\n")) {
      if (!line) continue;
      const row = table.insertRow();
      for (const part of line.split("\t")) row.insertCell().textContent = part;
    }
    closeMenu(false);
    if (keysPanel.hidden) focusBeforeKeys = document.activeElement;
    // Beside the field where the window has room, else over it.
    keysPanel.hidden = false;
    const box = field.getBoundingClientRect(), width = keysPanel.getBoundingClientRect().width;
    const beside = box.right + 8 + width <= window.innerWidth - 8;
    keysPanel.style.left = (beside ? box.right + 8 : Math.max(8, Math.min(box.left + 8, window.innerWidth - 8 - width))) + "px";
    keysPanel.style.top = Math.max(8, box.top) + "px";
    byId("keys-ok").focus();
  }
  function keysHide() {
    if (keysPanel.hidden) return;
    keysPanel.hidden = true;
    if (focusBeforeKeys && focusBeforeKeys.focus) focusBeforeKeys.focus();
  }
  byId("keys-ok").addEventListener("click", keysHide);
  byId("keys-close").addEventListener("click", keysHide);
  keysPanel.addEventListener("keydown", event => {
    if (event.key !== "Escape" && event.key !== "Enter") return;
    event.preventDefault();
    event.stopPropagation();
    keysHide();
  });

  // What the keyboard's layout labels its keys with, where the browser
  // tells it (Chromium's keyboard map; it is asked ahead, as the program
  // asks at once). Elsewhere the Latin letters stand.
  let layoutMap = null;
  function readLayout() {
    if (!navigator.keyboard || !navigator.keyboard.getLayoutMap) return;
    navigator.keyboard.getLayoutMap().then(map => { layoutMap = map; }, () => {});
  }
  readLayout();
  window.addEventListener("focus", readLayout);
  // The label of the key the program names by Latin letter `code` (as
  // keyInput names keys): a key typing that letter is labelled so, else
  // the key at its place; 0 where the map says nothing.
  function keyLabel(code) {
    if (!layoutMap) return 0;
    const letter = String.fromCharCode(code);
    for (const typed of layoutMap.values()) if (typed.toUpperCase() === letter) return code;
    const typed = layoutMap.get("Key" + letter);
    return typed ? typed.toUpperCase().codePointAt(0) : 0;
  }

  // A question of the page's own, answered in the page: the rest of it
  // inert meanwhile (the program plays on); Escape answers no.
  const question = byId("question");
  function ask(text, yes, no) {
    return new Promise(answer => {
      byId("question-text").textContent = text;
      byId("question-yes").textContent = yes;
      byId("question-no").textContent = no;
      const before = document.activeElement;
      const box = field.getBoundingClientRect();
      question.style.left = Math.max(8, box.left + 8) + "px";
      question.style.top = Math.max(8, box.top + 74) + "px";
      app.inert = true;
      question.hidden = false;
      byId("question-no").focus();
      const answered = value => {
        question.hidden = true;
        app.inert = false;
        if (before && before.focus) before.focus();
        answer(value);
      };
      byId("question-yes").onclick = () => answered(true);
      byId("question-no").onclick = () => answered(false);
      question.onkeydown = event => {
        if (event.key === "Tab") keepFocusIn(question, event);
        if (event.key !== "Escape") return;
        event.preventDefault();
        answered(false);
      };
    });
  }

  // Files. The working folder lives in the site's storage, in IndexedDB
  // (bytes, and room for many scenes): one record a file. Every file the
  // program writes is stored as soon as it gives the browser its turn, and
  // at once when the page is hidden or goes. Where the browser keeps nothing
  // for the site, the folder lasts as long as the page.
  const DbName = "talvo", FileStore = "files", StateStore = "state";
  // Where earlier versions kept the folder, as base64 text.
  const OldFile = "talvo:file:", OldCurrent = "talvo:current";
  // A page that goes may be gone before IndexedDB has its last writes (in
  // Firefox even those of the second before): every write goes to
  // localStorage too, whose writes the browser keeps however the page goes,
  // and comes back from there at the next visit until IndexedDB holds it.
  const Journal = "talvo:journal";
  // Where the browser blocks the site's storage, even looking at
  // localStorage throws.
  const local = (() => {
    try {
      const store = window.localStorage;
      store.getItem(Journal);
      return store;
    } catch (error) {
      return null;
    }
  })();
  // Every transaction of the store carries its serial, and the journal the
  // serial of the transaction that carries what it holds: a journal left
  // from before the store's newest write is older than the store.
  let journal = null, syncSerial = 0;
  // What was written since the store last confirmed it all, name to bytes
  // (null: removed). Every transaction carries all of it: Firefox may drop
  // the transaction a going page began and commit a later one, and the
  // store must then hold everything all the same.
  const unconfirmed = new Map();
  let db = null;
  const dirty = new Set(), gone = new Set();
  let syncAsked = false, storedCurrent = null;
  const inFolder = name => Folder + "/" + name;
  // The program's own files in its data folder: each scene's journal and
  // its lock. Their segments begin as a scene does, but they are no scene.
  const JournalFolder = "rescued/talvo/journal/";
  const playersScene = name => !name.startsWith(JournalFolder) && beginsAsScene(name);
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

  const request = r => new Promise((resolve, reject) => {
    r.onsuccess = () => resolve(r.result);
    r.onerror = () => reject(r.error);
  });
  const finished = tx => new Promise((resolve, reject) => {
    tx.oncomplete = () => resolve();
    tx.onerror = tx.onabort = () => reject(tx.error || new Error("the browser gave up"));
  });

  async function openStore() {
    const opening = indexedDB.open(DbName, 1);
    opening.onupgradeneeded = () => {
      opening.result.createObjectStore(FileStore);
      opening.result.createObjectStore(StateStore);
    };
    return request(opening);
  }

  // The folder of an earlier version moves over once, then leaves
  // localStorage.
  async function migrate() {
    const old = local;
    if (!old) return;
    const names = [];
    for (let i = 0; i < old.length; ++i) {
      const key = old.key(i);
      if (key.startsWith(OldFile)) names.push(key.slice(OldFile.length));
    }
    const current = old.getItem(OldCurrent);
    if (!names.length && current === null) return;
    const tx = db.transaction([FileStore, StateStore], "readwrite");
    for (const name of names) tx.objectStore(FileStore).put(fromBase64(old.getItem(OldFile + name)), name);
    if (current !== null) tx.objectStore(StateStore).put(current, "current");
    await finished(tx);
    for (const name of names) old.removeItem(OldFile + name);
    old.removeItem(OldCurrent);
  }

  // Fills the folder from the store; the scene shown when the page was last
  // left, or null.
  async function restore() {
    FS.mkdir(Folder);
    FS.chdir(Folder);
    if (!db) return null;
    const tx = db.transaction([FileStore, StateStore], "readonly");
    const files = tx.objectStore(FileStore);
    const state = tx.objectStore(StateStore);
    const [names, contents, current, persist, written] = await Promise.all([request(files.getAllKeys()),
      request(files.getAll()), request(state.get("current")), request(state.get("persist")),
      request(state.get("written"))]);
    persistRefused = persist === "refused";
    syncSerial = Number.isInteger(written) ? written : 0;
    names.forEach((name, i) => {
      try {
        makeFolders(inFolder(name));
        FS.writeFile(inFolder(name), contents[i]);
      } catch (error) {
        showError("A file kept in this browser could not be read back: " + name);
      }
    });
    storedCurrent = current || null;
    return readJournal() || storedCurrent;
  }

  // What the last visit wrote as it went, newer than the store where the
  // store missed it; stored again at the first sync.
  function readJournal() {
    try {
      journal = local && JSON.parse(local.getItem(Journal));
    } catch (error) {
      journal = null;
    }
    if (!journal) return null;
    // The store took a later write than the one this journal was left
    // beside (one it could not be written for): the store is newer.
    if (Number.isInteger(journal.written) && journal.written <= syncSerial) {
      clearJournal();
      return null;
    }
    for (const name of Object.keys(journal.files)) {
      makeFolders(inFolder(name));
      FS.writeFile(inFolder(name), fromBase64(journal.files[name]));
      dirty.add(name);
    }
    for (const name of journal.gone) {
      if (exists(name)) FS.unlink(inFolder(name));
      gone.add(name);
    }
    storedCurrent = null;
    return journal.current;
  }

  // What is not yet confirmed, written whole: the last write that lands
  // holds everything. Each file is turned into text once.
  const textOf = new WeakMap();
  function writeJournal(current, written) {
    const files = {}, removed = [];
    unconfirmed.forEach((bytes, name) => {
      if (!bytes) {
        removed.push(name);
        return;
      }
      if (!textOf.has(bytes)) textOf.set(bytes, toBase64(bytes));
      files[name] = textOf.get(bytes);
    });
    journal = { files, gone: removed, current: current || (journal && journal.current) || null, written };
    try {
      if (local) local.setItem(Journal, JSON.stringify(journal));
    } catch (error) {
      // No room there either: the store is all there is.
    }
  }

  function clearJournal() {
    journal = null;
    try {
      if (local) local.removeItem(Journal);
    } catch (error) {
      // Nothing was kept there.
    }
  }

  function changed(name) {
    gone.delete(name);
    dirty.add(name);
    syncSoon();
  }

  function removed(name) {
    dirty.delete(name);
    gone.add(name);
    syncSoon();
  }

  // Every write, rename and removal in the folder is noted, whoever makes
  // it: the program's saves (side file renamed over the scene), its rescues
  // and damaged scenes kept aside, the page's own dropped files.
  function watchFolder() {
    const inside = path => {
      if (typeof path !== "string" || !path.startsWith(Folder + "/")) return null;
      const name = path.slice(Folder.length + 1);
      // A save's side file lives only inside one save.
      return name.substring(name.lastIndexOf("/") + 1).startsWith("~talvo") ? null : name;
    };
    const close = FS.close, rename = FS.rename, unlink = FS.unlink;
    FS.close = stream => {
      const name = stream.flags & 3 ? inside(stream.path) : null;
      const result = close.call(FS, stream);
      if (name) changed(name);
      return result;
    };
    FS.rename = (from, to) => {
      const result = rename.call(FS, from, to);
      const a = inside(from), b = inside(to);
      if (a) removed(a);
      if (b) changed(b);
      return result;
    };
    FS.unlink = path => {
      const result = unlink.call(FS, path);
      const name = inside(path);
      if (name) removed(name);
      return result;
    };
  }

  function syncSoon() {
    if (syncAsked) return;
    syncAsked = true;
    setTimeout(sync, 0);
  }

  // Stores what changed. The writes start at once, since a page that goes
  // has only this moment; the promise settles once the browser holds them.
  function sync() {
    syncAsked = false;
    if (!db) {
      dirty.clear();
      gone.clear();
      return Promise.resolve(true);
    }
    // Each change is in `unconfirmed` before it leaves `dirty` or `gone`:
    // Firefox may end a going page's handler anywhere in here, and the
    // handler after it must still find everything.
    const changes = [];
    for (const name of Array.from(dirty)) {
      try {
        unconfirmed.set(name, FS.readFile(inFolder(name)));
        changes.push(name);
      } catch (error) {
        // Gone again since: nothing to keep.
      }
      dirty.delete(name);
    }
    for (const name of Array.from(gone)) {
      unconfirmed.set(name, null);
      changes.push(name);
      gone.delete(name);
    }
    const current = running || ended ? sceneName() : "";
    if (!changes.length && current === storedCurrent) return Promise.resolve(true);
    const serial = ++syncSerial;
    writeJournal(current, serial);
    try {
      const tx = db.transaction([FileStore, StateStore], "readwrite");
      unconfirmed.forEach((bytes, name) => {
        if (bytes) tx.objectStore(FileStore).put(bytes, name);
        else tx.objectStore(FileStore).delete(name);
      });
      if (current && !current.startsWith("/")) tx.objectStore(StateStore).put(current, "current");
      tx.objectStore(StateStore).put(serial, "written");
      if (tx.commit) tx.commit();
      return finished(tx).then(() => {
        storedCurrent = current;
        // The latest transaction carried everything since the last
        // confirmed one: the store holds all the journal held.
        if (serial === syncSerial) {
          unconfirmed.clear();
          if (journal) clearJournal();
        }
        return true;
      }, error => notKept(error, changes));
    } catch (error) {
      return Promise.resolve(notKept(error, changes));
    }
  }

  function notKept(error, changes) {
    // Carried again by the next change's transaction.
    const what = changes.length ? changes.join(", ") : T("the scene's name");
    showError(T("This browser would not keep %s: %s", what, error ? error.message || error.name : T("it gave no reason")));
    return false;
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

  function exists(name) {
    try {
      return FS.isFile(FS.stat(inFolder(name)).mode);
    } catch (error) {
      return false;
    }
  }

  // A file that begins as a scene does is the player's, even one the
  // program cannot load: it is listed to be removed.
  function beginsAsScene(name) {
    try {
      const stream = FS.open(inFolder(name), "r");
      const head = new Uint8Array(5);
      const count = FS.read(stream, head, 0, 5);
      FS.close(stream);
      return count === 5 && String.fromCharCode.apply(null, head) === "TALVO";
    } catch (error) {
      return false;
    }
  }

  function withText(text, use) {
    const size = lengthBytesUTF8(text) + 1, at = _malloc(size);
    stringToUTF8(text, at, size);
    try {
      return use(at);
    } finally {
      _free(at);
    }
  }

  // Whether the program would load the file as a scene: it checks by its
  // own rules, the format's limits and all.
  const loads = path => withText(path, at => _WebIsScene(at)) === 1;
  const Checked = "/tmp/talvo-check";
  function loadsAsScene(bytes) {
    FS.writeFile(Checked, bytes);
    try {
      return loads(Checked);
    } finally {
      FS.unlink(Checked);
    }
  }

  // The program's own save, as when its window closes, but it goes on;
  // whatever it wrote is stored, a rescued scene too. False when the scene
  // is not in its file, and the program has said why.
  // `ending`: the page goes, and the session's journal ends cleanly with
  // the save; hidden, it only has what it wrote so far stored.
  function saveScene(ending) {
    const saved = running ? _WebSaveScene(ending ? 1 : 0) : 0;
    if (saved) sync();
    return saved === 1;
  }

  function downloadBytes(name, kind, parts) {
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob(parts, { type: kind }));
    link.download = name;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  // A file the program makes in parts (an animation) gathers here, out of
  // its memory, and is downloaded once whole.
  let downloading = null;
  function downloadStart(name, kind) {
    downloading = { name, kind, parts: [] };
  }
  function downloadPart(bytes) {
    if (downloading) downloading.parts.push(bytes);
  }
  function downloadEnd(keep) {
    const done = downloading;
    downloading = null;
    if (done && keep) downloadBytes(done.name, done.kind, done.parts);
  }

  // The program's long work: how far it is, and its Cancel.
  function showProgress(text, permille) {
    byId("progress").hidden = permille < 0;
    if (permille < 0) return;
    byId("progress-text").textContent = text;
    byId("progress-bar").value = permille;
  }
  byId("progress-cancel").addEventListener("click", () => post(WmCommand, 2, 0));

  // Undo and Redo are greyed out while there is nothing to take back or
  // bring again.
  function enableButton(character, enabled) {
    const button = document.querySelector('[data-char="' + character + '"]');
    if (button) button.disabled = !enabled;
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

  const sameBytes = (a, b) => a.length === b.length && a.every((byte, i) => byte === b[i]);

  // A dropped or opened scene is copied into the folder "dropped", never
  // over a scene kept there: another file of the same name gets a name of
  // its own, and only the very same bytes take the kept one's place.
  function place(name, bytes) {
    const clean = name.replace(/[\/\\\0]/g, "_");
    const dot = clean.lastIndexOf(".");
    const stem = dot > 0 ? clean.slice(0, dot) : clean, ending = dot > 0 ? clean.slice(dot) : "";
    for (let n = 1; ; ++n) {
      const path = "dropped/" + (n === 1 ? clean : stem + " (" + n + ")" + ending);
      if (!exists(path)) {
        makeFolders(inFolder(path));
        FS.writeFile(inFolder(path), bytes);
        return path;
      }
      if (sameBytes(FS.readFile(inFolder(path)), bytes)) return path;
    }
  }

  // Hands names in the folder to the program as a drop: it saves the scene
  // it leaves, then loads the first.
  function dropNames(names) {
    withText(names.join("\n"), at => _WebDrop(at));
    wake();
  }

  const shownName = name => name.replace(/^dropped\//, "");
  const quoted = names => names.map(name => "\u201c" + name + "\u201d").join(", ");

  // Dropped or opened files: the side files are kept to shape new scenes,
  // scenes are kept and the first is opened, and anything else is refused.
  async function receive(files) {
    const list = Array.from(files || []);
    if (!running || !dropsAccepted || aboutOpen || !list.length) return;
    let contents;
    try {
      // Over the program's largest (files/side_files.h): refused unread.
      contents = await Promise.all(list.map(file => (file.size > 1 << 20 ? null : file.arrayBuffer())));
    } catch (error) {
      showError(T("The dropped file could not be read: %s", error.message));
      return;
    }
    if (!running || aboutOpen) return;
    const scenes = [], refused = [], told = [];
    list.forEach((file, i) => {
      const bytes = contents[i] && new Uint8Array(contents[i]);
      const side = SideFiles.find(name => name === file.name.toLowerCase());
      if (!bytes) {
        refused.push(file.name);
      } else if (side) {
        FS.writeFile(inFolder(side), bytes);
        told.push(side + " is kept: it shapes every new scene from now on (Clear makes one).");
      } else if (loadsAsScene(bytes)) {
        scenes.push(place(file.name, bytes));
      } else {
        refused.push(file.name);
      }
    });
    if (refused.length) {
      told.push(quoted(refused) + (refused.length > 1 ? " are not scenes" : " is not a scene") +
                " that Talvo can open: not opened, not kept.");
    }
    status(told.join(" "));
    if (scenes.length) {
      dropNames(scenes);
      worthKeeping();
    }
  }

  // The kept scenes, listed afresh each time their menu opens: those the
  // program can load to go back to, and every file that begins as a scene
  // to be removed; the scene on show is in both.
  function listScenes(list) {
    list.replaceChildren();
    const current = running ? sceneName() : "";
    const removing = list.id === "remove-scenes";
    const names = folderFiles(Folder, "", []).filter(name => name === current || playersScene(name)).sort();
    for (const name of names) {
      const usable = name === current || loads(inFolder(name));
      if (!usable && !removing) continue;
      const entry = document.createElement("li");
      entry.setAttribute("role", removing ? "menuitem" : "menuitemradio");
      if (!removing) entry.setAttribute("aria-checked", name === current ? "true" : "false");
      entry.tabIndex = -1;
      entry.dataset.action = removing ? "remove" : "scene";
      entry.dataset.scene = name;
      entry.textContent = usable ? shownName(name) : T("%s (damaged)", shownName(name));
      list.append(entry);
    }
    if (!list.children.length) {
      const entry = document.createElement("li");
      entry.setAttribute("role", "menuitem");
      entry.setAttribute("aria-disabled", "true");
      entry.tabIndex = -1;
      entry.textContent = T("None yet");
      list.append(entry);
    }
  }

  function goBackTo(name) {
    if (!running || name === sceneName() || aboutOpen) return;
    status("");
    dropNames([name]);
    worthKeeping();
  }

  function until(test, ms) {
    const end = performance.now() + ms;
    return new Promise(done => {
      const check = () => (test() ? done(true) : performance.now() > end ? done(false) : setTimeout(check, 20));
      check();
    });
  }

  // A kept scene removed, after a question. The scene on show is left
  // first, for another kept scene or else a new one, so that no later save
  // brings it back.
  async function removeScene(name) {
    if (!running || aboutOpen) return;
    const others = () => folderFiles(Folder, "", []).filter(n => n !== name && playersScene(n) && loads(inFolder(n))).sort();
    const onShow = name === sceneName();
    const next = onShow ? others()[0] : null;
    const sure = await ask(!onShow ? T("Remove \u201c%s\u201d from this browser? It cannot be brought back.", shownName(name))
      : next ? T("Remove \u201c%s\u201d from this browser? It cannot be brought back; Talvo goes on with \u201c%s\u201d.",
                 shownName(name), shownName(next))
        : T("Remove \u201c%s\u201d from this browser? It cannot be brought back; Talvo goes on with a new scene.",
            shownName(name)),
      T("Remove"), T("Keep"));
    if (!sure || !running) return;
    let replaced = false;
    if (name === sceneName()) {
      const other = others()[0];
      let left;
      if (other) {
        dropNames([other]);
        left = await until(() => !running || sceneName() === other, 10000);
      } else {
        _WebStartAfresh();
        wake();
        left = await until(() => !running || _WebIdle(), 10000);
        replaced = sceneName() === name;
      }
      if (!left || !running) {
        status(T("\u201c%s\u201d is still kept: Talvo did not leave it in time.", shownName(name)));
        return;
      }
    }
    // The new scene takes the file of the one removed where it has its name.
    if (replaced) saveScene();
    else if (exists(name)) FS.unlink(inFolder(name));
    status(T("\u201c%s\u201d is removed from this browser.", shownName(name)));
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

  // Shown again (or resized), the window is painted anew from the scene as
  // it is: strokes made at Stop show.
  function repaint() {
    if (!running) return;
    _WebRepaint();
    wake();
  }

  // A page that goes is hidden too, and Firefox may drop what its pagehide
  // handler stored but commit what the visibility change after it stores:
  // that one saves again, and its transaction carries the session's end.
  let leaving = false;
  document.addEventListener("visibilitychange", () => {
    if (document.visibilityState === "hidden") saveScene(leaving);
    else repaint();
  });
  window.addEventListener("pagehide", () => {
    leaving = true;
    saveScene(true);
  });
  // Back from the browser's page cache: the session goes on, and so does its
  // journal.
  window.addEventListener("pageshow", event => {
    leaving = false;
    if (event.persisted && running) _WebJournalAgain();
  });

  for (const type of ["pointerdown", "pointermove", "pointerup", "pointercancel"]) field.addEventListener(type, pointerInput);
  field.addEventListener("contextmenu", event => event.preventDefault());
  field.addEventListener("keydown", keyInput);
  // A key let go: the keyboard's pen lifts what the key held down.
  field.addEventListener("keyup", event => {
    if (!running || aboutOpen) return;
    const place = /^Key([A-Z])$/.exec(event.code || "");
    const vk = VirtualKeys[event.key] || (place ? place[1].charCodeAt(0) : 0);
    if (!vk) return;
    _WebPostKeyUp(vk);
    wake();
  });
  document.addEventListener("keydown", commandKey);
  byId("note-close").addEventListener("click", () => { byId("note").hidden = true; });
  // Buttons beside the menu post the character their key makes.
  for (const button of document.querySelectorAll("[data-char]")) {
    button.addEventListener("click", () => post(WmChar, Number(button.dataset.char), 0));
  }
  window.addEventListener("resize", () => {
    fit();
    repaint();
  });
  fit();

  // Whether kept scenes may go: the browser is asked to keep the folder for
  // good once the player has something worth keeping (a stroke, a scene
  // opened) or chooses "Keep scenes for good"; a refusal is remembered, and
  // then only the menu asks again. The side panel says what holds now.
  const keepItem = byId("keep-for-good");
  let persistRefused = false, persistAsked = false, privateWindow = false;
  const canAskToKeep = () => db && !privateWindow && navigator.storage && navigator.storage.persist;

  // Whether this is a private window, whose storage goes when it closes:
  // true, false, or null where the browser does not let it be told. No
  // browser says so outright: Firefox refuses the origin's private file
  // system there; Chromium reported a quota drawn from the memory, below the
  // 10 GiB it reports elsewhere, and newer ones report 10 GiB in both.
  async function inPrivateWindow() {
    try {
      if (navigator.userAgentData) {
        const estimate = await navigator.storage.estimate();
        return estimate.quota - estimate.usage < 10 * 2 ** 30 ? true : null;
      }
      await navigator.storage.getDirectory();
      return false;
    } catch (error) {
      return error.name === "SecurityError";
    }
  }

  // The panel's lines and the menu's item change together, once the answer
  // is known: a menu that shifted under the pointer would misplace a click.
  async function showKeeping() {
    let text, kept = false;
    byId("kept-here").textContent = !db || privateWindow
      ? (db ? T("Every scene you open is kept with your changes while this window is open: \u201cKept scenes\u201d goes back to one.")
        : T("Every scene you open is kept with your changes while the page is open: \u201cKept scenes\u201d goes back to one."))
      : T("Every scene you open is kept in this browser with your changes: \u201cKept scenes\u201d goes back to one.") + " " +
        (privateWindow === null
          ? T("The scene comes back when you return, unless this is a private window: that keeps nothing once it is closed.")
          : T("The scene comes back when you return."));
    if (!db) {
      text = T("This browser keeps nothing for this page: your scenes will not come back after you leave. Download a scene to keep it.");
    } else if (privateWindow) {
      text = T("This is a private window: nothing is kept once it is closed. Download a scene to keep it.");
    } else if (!canAskToKeep()) {
      text = T("This browser may remove kept scenes when it runs short of room; it cannot be asked to keep them.");
    } else {
      try {
        kept = await navigator.storage.persisted();
      } catch (error) {
        // Unknown: asking tells.
      }
      text = kept ? T("This browser keeps your scenes until you remove them.")
        : persistRefused ? T("This browser would not promise to keep your scenes: it may remove them when it runs short of room.")
          : T("This browser may remove kept scenes when it runs short of room: \u201cKeep scenes for good\u201d in the menu asks it not to.");
    }
    byId("keeping").textContent = text;
    // Shown from the start where the browser can be asked, checked once it
    // keeps them: an item that came and went would move the others.
    keepItem.hidden = !canAskToKeep();
    keepItem.setAttribute("role", "menuitemcheckbox");
    keepItem.setAttribute("aria-checked", kept ? "true" : "false");
  }

  async function askToKeep(byPlayer) {
    if (!canAskToKeep() || (!byPlayer && (persistAsked || persistRefused))) return;
    persistAsked = true;
    let granted = false;
    try {
      granted = (!byPlayer && await navigator.storage.persisted()) || await navigator.storage.persist();
    } catch (error) {
      granted = false;
    }
    persistRefused = !granted;
    try {
      db.transaction(StateStore, "readwrite").objectStore(StateStore).put(granted ? "granted" : "refused", "persist");
    } catch (error) {
      // Asked again at the next visit.
    }
    await showKeeping();
  }

  function worthKeeping() {
    if (running) askToKeep(false);
  }

  // One tab plays at a time: it holds the folder with a Web Lock, so two
  // tabs never overwrite each other's scenes. A second tab says so while
  // another holds it, and waits; "Play here" asks the first to save, end and
  // hand the folder over. Where the browser grants no lock (site data
  // blocked, a sandboxed frame), it keeps nothing either: the tab plays.
  const LockName = "talvo-folder";
  const tabs = (() => {
    try {
      return new BroadcastChannel("talvo");
    } catch (error) {
      return null;
    }
  })();
  const elsewhere = byId("elsewhere");
  let releaseFolder = null, handingOver = false, ended = false, askTimer = 0;

  function holdFolder() {
    let locks = null;
    try {
      locks = navigator.locks;
    } catch (error) {
      // No locks here.
    }
    if (!locks) return Promise.resolve();
    return new Promise(granted => {
      let held = false;
      // Said while another tab holds the folder (a reload's own release
      // takes a moment, so not at once).
      const look = () => locks.query().then(state => {
        if (!held) elsewhere.hidden = !state.held.some(lock => lock.name === LockName);
      }, () => {});
      const looking = setInterval(look, 1000);
      const hold = () => {
        held = true;
        clearInterval(looking);
        clearTimeout(askTimer);
        elsewhere.hidden = true;
        granted();
      };
      let asked;
      try {
        asked = locks.request(LockName, () => {
          hold();
          status("");
          return new Promise(release => { releaseFolder = release; });
        });
      } catch (error) {
        asked = Promise.reject(error);
      }
      asked.catch(hold);
    });
  }

  byId("play-here").addEventListener("click", () => {
    clearTimeout(askTimer);
    if (!tabs) {
      status(T("This browser cannot reach the other tab: close it, and Talvo starts here."));
      return;
    }
    tabs.postMessage("hand over");
    status(T("Asking the other tab to hand Talvo over\u2026"));
    askTimer = setTimeout(() => status(T("The other tab did not answer: close it, and Talvo starts here.")), 5000);
  });
  if (tabs) {
    tabs.onmessage = event => {
      if (event.data !== "hand over" || !running) return;
      handingOver = true;
      post(WmSysCommand, ScClose, 0);
    };
  }

  // The program itself stopped (out of memory, a trap, an exception that
  // nothing caught): its memory is not to be trusted, so nothing calls into
  // it again, and above all nothing saves from it or ends its journal
  // cleanly. What it wrote until then, its journal to the last flush, is
  // stored, and the next visit rebuilds the scene from it as after a
  // killed tab.
  let stopped = false;
  function programStopped(what) {
    if (stopped || ended) return;
    stopped = true;
    running = false;
    showError(db ? T("Talvo stopped: %s. Reload the page: the scene comes back as it was up to a second before.", what)
      : T("Talvo stopped: %s. Reload the page to play again.", what));
    sync().finally(() => {
      if (releaseFolder) releaseFolder();
    });
  }

  // What escaped from the program: a trap or an abort (a RuntimeError), a
  // C++ exception (thrown as its address), or an error thrown through its
  // frames.
  const fromProgram = error => error instanceof WebAssembly.RuntimeError || typeof error === "number" ||
    /wasm-function|wasm:\/\//.test(String(error && error.stack));
  const fault = error => (typeof error === "number" ? T("an error it did not handle")
    : T("a fault in the program (%s)", error && error.message || error));
  window.addEventListener("error", event => {
    if (running && fromProgram(event.error)) programStopped(fault(event.error));
  });
  window.addEventListener("unhandledrejection", event => {
    if (running && fromProgram(event.reason)) programStopped(fault(event.reason));
  });

  async function programEnded(code) {
    running = false;
    ended = true;
    await sync();
    status(handingOver ? T("Talvo plays in another tab now. Reload this page to play here.")
      : code ? T("Talvo has ended (code %s). Reload the page to play again.", code)
        : T("Talvo has ended. Reload the page to play again."));
    if (releaseFolder) releaseFolder();
  }

  // Offline play: the service worker keeps the page's files. A newer
  // version, once kept, takes over when no tab runs this one.
  function keepForOffline() {
    let workers = null;
    try {
      workers = navigator.serviceWorker;
    } catch (error) {
      // A sandboxed frame: no workers.
    }
    if (!workers) return;
    const ready = () => status("A new version of Talvo is ready: it starts once every Talvo tab is closed.");
    const watch = registration => {
      if (!registration) return;
      if (registration.waiting && workers.controller) ready();
      registration.addEventListener("updatefound", () => {
        const next = registration.installing;
        if (!next || !workers.controller) return;
        next.addEventListener("statechange", () => {
          if (next.state === "installed") ready();
        });
      });
    };
    // Offline the worker cannot be fetched again: the one kept is watched.
    workers.register("sw.js").then(watch, () => workers.getRegistration().then(watch, () => {}));
  }

  // The folder comes from the store before the program starts, so the
  // scene shown when the page was last left comes back; those named in the
  // address (?arg=NAME) go first.
  let programArguments = [];
  async function begin() {
    await holdFolder();
    try {
      db = await openStore();
      await migrate();
    } catch (error) {
      db = null;
    }
    privateWindow = db !== null && await inPrivateWindow();
    let current = null;
    try {
      current = await restore();
    } catch (error) {
      showError("The files kept in this browser could not be read back: " + error.message);
    }
    watchFolder();
    if (dirty.size || gone.size) syncSoon();
    // A scene that cannot be saved is rescued into the folder, so it is
    // kept; the journal goes there too (JournalFolder).
    ENV.XDG_DATA_HOME = Folder + "/rescued";
    const named = new URLSearchParams(location.search).getAll("arg");
    // The scene kept is a name, never an option, whatever it begins with.
    programArguments = named.length ? named : current && exists(current) ? ["--", current] : [];
    showKeeping();
  }

  Module.noInitialRun = true;
  // After whatever the embedding page asked to run first.
  Module.preRun = [].concat(Module.preRun || [], () => {
    addRunDependency("talvo-folder");
    begin().finally(() => removeRunDependency("talvo-folder"));
  });
  Module.onRuntimeInitialized = () => {
    callMain(programArguments);
    keepForOffline();
  };
  Module.printErr = text => console.warn(text);
  Module.onAbort = what => programStopped(what === "OOM" ? T("out of memory") : T("it gave up (%s)", what));

  return {
    wait,
    yieldToBrowser,
    setTitle: title => { document.title = title; },
    catalogue: () => catalogue,
    setZoom,
    shown: () => { running = true; },
    paintSoon,
    acceptDrops: () => { dropsAccepted = true; },
    menuAppend,
    menuCheck,
    capture,
    pointer: () => lastPointer,
    copyPicture,
    copied: () => copied,
    textMask,
    aboutShow,
    aboutHide,
    keysShow,
    keyLabel,
    showError,
    showNote,
    downloadStart,
    downloadPart,
    downloadEnd,
    showProgress,
    enableButton,
    ended: programEnded,
    // For tests: the program fails as of itself (web_platform.cpp).
    fault: kind => {
      _WebTestFault(kind);
      wake();
    },
  };
})();
