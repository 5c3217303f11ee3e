// The test browser: opens the address it is given in Debian's headless chromium through its
// DevTools protocol, signs in on the authorization server's development pages (any login, the
// password "secret") and consents, until the program's redirect page has loaded. Writes
// "done <status>" or "failed <reason>" to $BG_BROWSER_RESULT and always exits 0 (an opener that
// fails would be run again). With $BG_BROWSER_CANCEL it presses "Cancel" instead of signing in.
//   node browser.mjs URL
import fs from "node:fs";
import puppeteer from "puppeteer-core";

const url = process.argv[2];
const result = process.env.BG_BROWSER_RESULT;
const record = (line) => result && fs.appendFileSync(result, line + "\n");

async function run() {
  const browser = await puppeteer.launch({
    executablePath: process.env.BG_CHROMIUM || "/usr/bin/chromium",
    headless: true,
    userDataDir: fs.mkdtempSync("/tmp/bg-chromium-"),
    acceptInsecureCerts: true,
    args: ["--no-sandbox"],
  });
  try {
    const page = await browser.newPage();
    let response = await page.goto(url, { waitUntil: "load" });
    for (let step = 0; step < 5 && !page.url().startsWith("http://127.0.0.1:"); ++step) {
      if (process.env.BG_BROWSER_CANCEL) {
        const cancel = await page.$("a[href$='/abort']");
        if (cancel) {
          [response] = await Promise.all([page.waitForNavigation({ waitUntil: "load" }), cancel.click()]);
          continue;
        }
      }
      const login = await page.$("input[name=login]");
      if (login && !(await page.$eval("input[name=login]", (e) => e.value))) await login.type("u");
      const password = await page.$("input[name=password]");
      if (password) await password.type("secret");
      [response] = await Promise.all([
        page.waitForNavigation({ waitUntil: "load" }),
        page.click("button[type=submit]"),
      ]);
    }
    record(`done ${response ? response.status() : 0}`);
  } finally {
    await browser.close();
  }
}

run().catch((error) => record(`failed ${error.message.split("\n")[0]}`)).finally(() => process.exit(0));
