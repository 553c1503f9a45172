/*
 * A stand-in for the form workstation: serves one assembled form package over HTTP on 127.0.0.1 and answers
 * the page's commands the way formdesk does. SAVE keeps the body after "CCC=" as the saved text, RESET empties
 * it and reloads the page, CREATE_PNG records its body, writes images/encryption.png and tells the page whether
 * the picture was made (pngFails: it is not, and the file keeps an earlier picture; pngSilent: no answer comes);
 * after every fresh page load the saved text goes back to the page with formdesk's restore script, once.
 */
'use strict';

const fs = require('fs');
const http = require('http');
const path = require('path');
const { execFileSync } = require('child_process');

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'application/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8', '.png': 'image/png', '.txt': 'text/plain; charset=utf-8',
};

// formdesk's script after CREATE_PNG.
const RELOAD_PICTURE = "(function () { var images = document.getElementsByTagName('img'), i, src; " +
  "for (i = 0; i < images.length; i++) { src = images[i].getAttribute('src') || ''; " +
  "if (src.split('?')[0] === 'images/encryption.png') " +
  "images[i].src = 'images/encryption.png?' + new Date().getTime(); } })();";

// formdesk's script after every CREATE_PNG, run once the post's event has returned.
function pictureResultScript(made) {
  return (made ? RELOAD_PICTURE + ' ' : '') + "if (typeof window.qrPictureResult === 'function') " +
    'window.qrPictureResult(' + made + ');';
}

// formdesk's restore script, with the saved text put in unchanged.
function restoreScript(text) {
  return 'try { saved = {}; saved = JSON.parse(unescape(decodeURI(\'' + text +
    '\'))); } catch (e) {} if (!saved || typeof saved !== \'object\') saved = {}; loadFromSavedData();';
}

class Host {
  constructor(packageDir) {
    this.packageDir = packageDir;
    this.saved = '';          // the content of the saved-data file
    this.saveBodies = [];     // every SAVE body as posted
    this.pngBodies = [];      // every CREATE_PNG body as posted
    this.resets = 0;
    this.pngFails = false;
    this.pngSilent = false;
    this.restored = false;
    this.restores = [];       // the scripts run after page loads
    this.server = null;
    this.port = 0;
  }

  async start() {
    this.server = http.createServer((req, res) => this.handle(req, res));
    await new Promise((resolve) => this.server.listen(0, '127.0.0.1', resolve));
    this.port = this.server.address().port;
    return this;
  }

  async stop() {
    if (this.server) {
      this.server.closeAllConnections();
      await new Promise((resolve) => this.server.close(resolve));
    }
  }

  get url() {
    return 'http://127.0.0.1:' + this.port + '/index.html';
  }

  handle(req, res) {
    const chunks = [];
    req.on('data', (c) => chunks.push(c));
    req.on('end', () => {
      const body = Buffer.concat(chunks).toString('latin1');
      const url = req.url.split('?')[0];
      if (url.indexOf('SAVE') >= 0) {
        this.saveBodies.push(body);
        this.saved = body.length > 4 ? body.substring(4) : '';
        res.writeHead(204); // the page stays where it is, as when formdesk cancels the navigation
        res.end();
      } else if (url.indexOf('RESET') >= 0) {
        this.resets++;
        this.saved = '';
        this.restored = false;
        res.writeHead(302, { Location: '/index.html' });
        res.end();
      } else if (url.indexOf('CREATE_PNG') >= 0) {
        this.pngBodies.push(body);
        const made = !this.pngFails;
        if (made) {
          this.writePicture(body.length > 7 ? body.substring(7) : '');
        }
        res.writeHead(204);
        res.end();
        if (this.page && !this.pngSilent) {
          this.page.evaluate(pictureResultScript(made)).catch(() => {});
        }
      } else {
        this.serveFile(url, res);
      }
    });
  }

  // The real host runs qrencode; here it is used when present, or a blank picture stands in.
  writePicture(text) {
    const out = path.join(this.packageDir, 'images', 'encryption.png');
    try {
      execFileSync('qrencode', ['-o', out, '-l', 'H', text + '0071901'], { stdio: 'ignore' });
    } catch (e) {
      fs.copyFileSync(path.join(this.packageDir, 'images', 'logo_print.png'), out);
    }
  }

  serveFile(url, res) {
    const file = path.normalize(path.join(this.packageDir, decodeURIComponent(url)));
    if (!file.startsWith(this.packageDir + path.sep) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
      res.writeHead(404);
      res.end();
      return;
    }
    res.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
      'Cache-Control': 'no-store' });
    res.end(fs.readFileSync(file));
  }

  // Hands the saved data to the page after each fresh load (DocumentComplete with the restored flag clear).
  attach(page) {
    this.page = page;
    this.loaded = new Promise((resolve) => { this.onLoaded = resolve; });
    page.on('load', async () => {
      if (this.restored) {
        return;
      }
      this.restored = true;
      const script = this.saved ? restoreScript(this.saved) : 'loadFromSavedData();';
      this.restores.push(script);
      try {
        await page.evaluate((s) => { (0, eval)(s); }, script);
      } finally {
        const done = this.onLoaded;
        this.loaded = new Promise((resolve) => { this.onLoaded = resolve; });
        done();
      }
    });
  }

  // Opens the page as formdesk does and waits until the saved data has been handed over.
  async open(page) {
    this.attach(page);
    const loaded = this.loaded;
    await page.goto(this.url);
    await loaded;
  }

  // The host's call at close when the user answers Yes.
  async saveToClient(page) {
    const count = this.saveBodies.length;
    await page.evaluate('saveToClient()');
    await waitFor(() => this.saveBodies.length > count);
    return this.saveBodies[this.saveBodies.length - 1];
  }
}

async function waitFor(test, timeout = 5000) {
  const end = Date.now() + timeout;
  while (!test()) {
    if (Date.now() > end) {
      throw new Error('timed out waiting');
    }
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

module.exports = { Host, restoreScript, waitFor };
