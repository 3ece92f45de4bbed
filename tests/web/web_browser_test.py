#!/usr/bin/python3
"""The page in headless Chromium against the real server: log in, dial, see
"Connected" soon after the server says it, send a chat line a wire client
receives; screenshots at phone and desktop width in OUT.
Usage: web_browser_test.py VELORA OUT. Exits 77 without chromium."""

import os
import shutil
import sys
import tempfile
import time

from web_support import Server, Wire

BINARY, OUT = sys.argv[1], sys.argv[2]
DRIVER = shutil.which('chromedriver') or '/usr/bin/chromedriver'
if not os.path.exists(DRIVER) or not (shutil.which('chromium') or os.path.exists('/usr/bin/chromium')):
    print('web.browser skipped: chromium and chromium-driver are not installed (scripts/setup installs them)')
    sys.exit(77)
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions as EC
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print('web.browser skipped: python3-selenium is not installed (scripts/setup installs it)')
    sys.exit(77)


def browser(width):
    opts = webdriver.ChromeOptions()
    for arg in ('--headless=new', '--no-sandbox', '--disable-dev-shm-usage', '--ignore-certificate-errors',
                '--window-size=%d,900' % width, '--disable-gpu'):
        opts.add_argument(arg)
    return webdriver.Chrome(service=Service(DRIVER), options=opts)


def shot(driver, width, name):
    driver.set_window_size(width, 900)
    height = driver.execute_script('return document.documentElement.scrollHeight')
    driver.set_window_size(width, max(900, height + 140))
    driver.save_screenshot(os.path.join(OUT, name))


def main():
    os.makedirs(OUT, exist_ok=True)
    with tempfile.TemporaryDirectory() as d:
        server = Server(d + '/base', BINARY).start()
        wire = Wire(server.port)
        driver = browser(390)
        try:
            wait = WebDriverWait(driver, 15)
            driver.get('https://127.0.0.1:%d/' % server.web)
            wait.until(EC.visibility_of_element_located((By.ID, 'user'))).send_keys('demo')
            driver.find_element(By.ID, 'password').send_keys('demo')
            driver.find_element(By.ID, 'login-button').click()
            wait.until(EC.text_to_be_present_in_element((By.ID, 'status'), 'READY'))
            shot(driver, 390, 'web-390-ready.png')
            dial = wait.until(EC.element_to_be_clickable((By.CSS_SELECTOR, 'button[aria-label="Dial Metro Online"]')))
            dial.click()
            # The server's own word, on the wire, against the page's.
            wire.wait_for(lambda line: line.startswith(b'Connected'), 30)
            seen_by_server = time.monotonic()
            WebDriverWait(driver, 2, poll_frequency=0.05).until(
                EC.text_to_be_present_in_element((By.ID, 'status'), 'Connected'))
            print('page showed "Connected" %.0f ms after the wire client' % ((time.monotonic() - seen_by_server) * 1000))
            # Chat: to the wire client's computer.
            wait.until(EC.presence_of_element_located((By.CSS_SELECTOR, '#to option[value="10.0.0.9"]')))
            driver.find_element(By.CSS_SELECTOR, '#to option[value="10.0.0.9"]').click()
            driver.find_element(By.ID, 'text').send_keys('hello from the page')
            driver.find_element(By.ID, 'send').click()
            wire.wait_for(lambda line: b'hello from the page' in line)
            wire.send(b'pesan', b'127.0.0.1', b'10.0.0.9\xe3pc9\xe3hello browser\xe4\xe3\xe5')
            wait.until(EC.text_to_be_present_in_element((By.ID, 'messages'), 'hello browser'))
            shot(driver, 390, 'web-390.png')
            shot(driver, 1280, 'web-1280.png')
            print('screenshots in', OUT)
        finally:
            driver.quit()
            wire.close()
            server.stop()
    return 0


if __name__ == '__main__':
    sys.exit(main())
